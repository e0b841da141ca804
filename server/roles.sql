-- Roles and databases of the stand-in cluster. Run as the cluster's superuser.
-- psql variable: kna_password. The reporting side's roles are made by
-- server/install, as on a site's own server.

-- Billing side: the reader behind the fixed link and one login per operator.
create role kna_link login password :'kna_password';
create role billing_operators nologin;
create role ivanova login password 'demo2008' in role billing_operators;
create role petrov login password 'petrov77' in role billing_operators;
create role noname login password 'noname01' in role billing_operators;

create database report encoding 'UTF8' template template0;
create database kvarn encoding 'UTF8' template template0;

-- Each login reaches only its own database.
revoke connect, temporary on database kvarn from public;
grant connect on database kvarn to kna_link, billing_operators;
revoke connect on database postgres from public;
revoke connect on database template1 from public;
