-- The fixed link kna to the billing database. It belongs to the superuser, as a
-- public link would, so the service account can use it but never drop it.
-- psql variables: svc_user, port, kna_password.
create server kna foreign data wrapper postgres_fdw
    options (host '127.0.0.1', port :'port', dbname 'kvarn');
create user mapping for public server kna options (user 'kna_link', password :'kna_password');
grant usage on foreign server kna to :"svc_user";
create schema kna;
import foreign schema public
    limit to (t_town_type, t_town, t_street_type, t_streets_ref, o_houses, t_users)
    from server kna into kna;
grant usage on schema kna to :"svc_user";
grant select on all tables in schema kna to :"svc_user";
