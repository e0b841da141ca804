-- Roles and databases of the stand-in cluster. Run as the cluster's superuser.
-- psql variables: svc_user, svc_password, kna_password.
create role :"svc_user" login password :'svc_password';
alter role :"svc_user" set datestyle = 'German, DMY';
alter role :"svc_user" set search_path = "$user", public, pg_catalog;
alter role :"svc_user" set client_min_messages = warning;

-- Billing side: the reader behind the fixed link and one login per operator.
create role kna_link login password :'kna_password';
create role billing_operators nologin;
create role ivanova login password 'demo2008' in role billing_operators;
create role petrov login password 'petrov77' in role billing_operators;
create role noname login password 'noname01' in role billing_operators;

create database report owner :"svc_user" encoding 'UTF8' template template0;
create database kvarn encoding 'UTF8' template template0;
