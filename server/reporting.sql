-- Prepares a reporting database for Tulmina. Run by server/install as a
-- superuser of the reporting server, connected to the reporting database; it
-- may be run again. psql variables:
--   svc_user, svc_password                the service account stored in the program
--   billing_host, billing_port, billing_dbname, billing_schema,
--   billing_user, billing_password        the fixed link kna to the billing database
--   billing_sslmode, billing_sslrootcert  how the reporting server checks the billing one
--
-- Every workstation holds the service account, so whatever it can do is
-- harmless: it owns nothing, reads the two tables the program reads, inserts
-- snapshot rows, reads through kna, and makes and drops per-user links only
-- through the two functions of schema tulmina_link, which keep the links'
-- passwords where it cannot read them.
\set ON_ERROR_STOP on
-- The fixed link's password travels in this script's statements: none of them
-- is written to the server log.
set log_statement = 'none';
set log_min_error_statement = 'panic';
set log_min_duration_statement = -1;
set client_min_messages = warning;

begin;

-- Roles. tulmina_owner owns the objects; tulmina_links owns the link functions
-- and every per-user link; tulmina_client holds what the program may do. None
-- of them logs in. The service account is a member of tulmina_client only.
select format('create role %I nologin', r)
  from unnest(array['tulmina_owner', 'tulmina_links', 'tulmina_client']) r
 where not exists (select from pg_roles where rolname = r) \gexec
select format('create role %I login', :'svc_user')
 where not exists (select from pg_roles where rolname = :'svc_user') \gexec
alter role :"svc_user" login nosuperuser nocreatedb nocreaterole inherit noreplication nobypassrls
    password :'svc_password';
reassign owned by :"svc_user" to tulmina_owner;
grant tulmina_client to :"svc_user";

-- What the service account's sessions rely on, and what keeps the links'
-- passwords out of the server log: bound values are never logged, nor is a
-- failing statement (a login role cannot change these settings of its own).
alter role :"svc_user" set search_path = tulmina_compat, pg_catalog, public;
alter role :"svc_user" set datestyle = 'German, DMY';
alter role :"svc_user" set client_min_messages = warning;
alter role :"svc_user" set log_parameter_max_length = 0;
alter role :"svc_user" set log_parameter_max_length_on_error = 0;
alter role :"svc_user" set log_min_error_statement = panic;

-- The database: nobody but its owner creates anything in it; the link role
-- makes one schema per link.
select format('revoke create, temporary on database %I from public', current_database()) \gexec
select format('grant connect on database %I to tulmina_client', current_database()) \gexec
select format('grant create on database %I to tulmina_links', current_database()) \gexec
revoke create on schema public from public;
grant usage on schema public to tulmina_client;

create extension if not exists postgres_fdw;
revoke usage on foreign data wrapper postgres_fdw from public;
grant usage on foreign data wrapper postgres_fdw to tulmina_links;

-- Tables of the reporting side. A site whose nightly processes already fill
-- them keeps them as they are; only the grants below are added.
create table if not exists public.atstown (
    name         varchar(50),
    town_id      numeric(13),
    id_territory numeric(13),
    name_terr    varchar(50),
    atskod       varchar(10)
);
create table if not exists public.lst_deb_always (
    phone        varchar(16),
    cur_deb      numeric(12, 2),
    user_id      bigint,
    town_id      numeric(13),
    id_territory numeric(13),
    iscorp       char(1),
    date_on      date
);
create table if not exists public.pays_debs_tmp (
    user_id  bigint,
    pay_date date
);
create table if not exists public.pays_debs_tmp_r (
    user_id  bigint,
    pay_date date
);
select format('alter table public.%I owner to tulmina_owner', t)
  from unnest(array['atstown', 'lst_deb_always', 'pays_debs_tmp', 'pays_debs_tmp_r']) t
  join pg_tables p on p.schemaname = 'public' and p.tablename = t
 where p.tableowner in (current_user, :'svc_user') \gexec
revoke all on public.atstown, public.lst_deb_always, public.pays_debs_tmp, public.pays_debs_tmp_r
    from public, :"svc_user";
grant select on public.atstown, public.lst_deb_always to tulmina_client;
grant insert on public.pays_debs_tmp, public.pays_debs_tmp_r to tulmina_client;

-- Objects that let the program's Oracle statements run as written. The
-- service account's search path puts this schema before pg_catalog.
create schema if not exists tulmina_compat authorization tulmina_owner;
revoke all on schema tulmina_compat from public;
grant usage on schema tulmina_compat to tulmina_client;

-- Oracle concatenation treats null as an empty string. Stable, as concat is:
-- a function no more volatile than its body is inlined into the statement.
create or replace function tulmina_compat.ora_concat(a text, b text) returns text
    language sql stable parallel safe
    as $$ select nullif(pg_catalog.concat(a, b), '') $$;
do $$ begin
    if not exists (select from pg_operator o join pg_namespace n on n.oid = o.oprnamespace
                    where n.nspname = 'tulmina_compat' and o.oprname = '||') then
        create operator tulmina_compat.|| (leftarg = text, rightarg = text,
                                           function = tulmina_compat.ora_concat);
    end if;
end $$;
-- to_date with one argument reads the form the workstations write, whatever
-- the session's date style.
create or replace function tulmina_compat.to_date(text) returns date
    language sql stable parallel safe
    as $$ select pg_catalog.to_date($1, 'DD.MM.YYYY') $$;
-- Database links are foreign servers; the dictionary names them in capitals.
-- Their options hold no secret: the passwords are in user mappings.
create or replace view tulmina_compat.all_db_links as
select pg_catalog.upper(pg_catalog.pg_get_userbyid(s.srvowner))::varchar(128) as owner,
       pg_catalog.upper(s.srvname)::varchar(128) as db_link,
       (select o.option_value from pg_catalog.pg_options_to_table(s.srvoptions) o
         where o.option_name = 'dbname')::varchar(128) as host,
       null::date as created
  from pg_catalog.pg_foreign_server s
 where s.srvowner = (select r.oid from pg_catalog.pg_roles r where r.rolname = 'tulmina_links')
    or s.srvname = 'kna';
alter function tulmina_compat.ora_concat(text, text) owner to tulmina_owner;
alter function tulmina_compat.to_date(text) owner to tulmina_owner;
alter operator tulmina_compat.|| (text, text) owner to tulmina_owner;
alter view tulmina_compat.all_db_links owner to tulmina_owner;
revoke all on function tulmina_compat.ora_concat(text, text), tulmina_compat.to_date(text)
    from public;
grant execute on function tulmina_compat.ora_concat(text, text), tulmina_compat.to_date(text)
    to tulmina_client;
revoke all on tulmina_compat.all_db_links from public;
grant select on tulmina_compat.all_db_links to tulmina_client;

-- The fixed link kna to the billing database, made anew with its tables. Its
-- user mapping is for PUBLIC, so only the server's owner (tulmina_owner, which
-- nobody logs in as) sees its options.
drop server if exists kna cascade;
drop schema if exists kna cascade;
select format('create server kna foreign data wrapper postgres_fdw '
              'options (host %L, port %L, dbname %L, sslmode %L%s)',
              :'billing_host', :'billing_port', :'billing_dbname', :'billing_sslmode',
              case when :'billing_sslrootcert' = '' then ''
                   else format(', sslrootcert %L', :'billing_sslrootcert') end) \gexec
alter server kna owner to tulmina_owner;
create user mapping for public server kna
    options (user :'billing_user', password :'billing_password');
create schema kna authorization tulmina_owner;
import foreign schema :"billing_schema"
    limit to (t_town_type, t_town, t_street_type, t_streets_ref, o_houses, t_users)
    from server kna into kna;
select format('alter foreign table kna.%I owner to tulmina_owner', c.relname)
  from pg_class c join pg_namespace n on n.oid = c.relnamespace
 where n.nspname = 'kna' \gexec
grant usage on schema kna to tulmina_client;
grant select on all tables in schema kna to tulmina_client;
-- Statistics of the link's tables let the planner send an address lookup to
-- the billing server as one joined query; tables imported anew have none.
analyze kna.t_town_type, kna.t_town, kna.t_street_type, kna.t_streets_ref, kna.o_houses,
    kna.t_users;

-- Per-user links. A link is a foreign server to where kna points, a user
-- mapping for tulmina_links with the user's billing name and password, and a
-- schema of the link's name holding the one table the sign-in reads, as a view
-- that reads through tulmina_links' mapping. Nothing connects when a link is
-- made, so a wrong password shows at its first use.
create schema if not exists tulmina_link authorization tulmina_owner;
revoke all on schema tulmina_link from public;
grant usage on schema tulmina_link to tulmina_client, tulmina_links;

-- A name a link or a billing user may take: a plain identifier of at most 30
-- characters, in lower case.
create or replace function tulmina_link.plain_name(name text) returns boolean
    language sql immutable parallel safe
    as $$ select name ~ '^[a-z][a-z0-9_$#]{0,29}$' $$;

create or replace function tulmina_link.create_link(link_name text, remote_user text,
                                                    remote_password text)
    returns void
    language plpgsql security definer
    set search_path = pg_catalog, pg_temp
as $$
declare
    link text := lower(link_name);
    who text := lower(remote_user);
    kna_options text;
    remote_schema text;
begin
    if link is null or not tulmina_link.plain_name(link) or link = 'kna' then
        raise exception 'имя связи с базой данных недопустимо' using errcode = '42602';
    end if;
    if who is null or not tulmina_link.plain_name(who) then
        raise exception 'имя пользователя биллинга недопустимо' using errcode = '42602';
    end if;
    if remote_password is null or remote_password = '' then
        raise exception 'пароль пользователя биллинга пуст' using errcode = '28P01';
    end if;
    if exists (select from pg_foreign_server where srvname = link)
       or exists (select from pg_namespace where nspname = link) then
        raise exception 'связь с базой данных «%» уже есть', upper(link)
            using errcode = '42710';
    end if;
    select string_agg(format('%I %L', option_name, option_value), ', ')
      into kna_options
      from pg_options_to_table((select srvoptions from pg_foreign_server where srvname = 'kna'));
    select o.option_value into remote_schema
      from pg_foreign_table f
      join pg_class c on c.oid = f.ftrelid
      join pg_namespace n on n.oid = c.relnamespace,
           pg_options_to_table(f.ftoptions) o
     where n.nspname = 'kna' and c.relname = 't_users' and o.option_name = 'schema_name';
    execute format('create server %I foreign data wrapper postgres_fdw options (%s)',
                   link, kna_options);
    -- A failure here must not carry the statement, which holds the password.
    begin
        execute format('create user mapping for current_user server %I '
                       'options (user %L, password %L)', link, who, remote_password);
    exception when others then
        raise exception 'связь с базой данных «%» не создана', upper(link)
            using errcode = sqlstate;
    end;
    execute format('create schema %I', link);
    execute format('create foreign table %I.remote_t_operators (oper_id numeric, '
                   'name varchar, login_name varchar, note varchar) server %I '
                   'options (schema_name %L, table_name %L)',
                   link, link, coalesce(remote_schema, 'public'), 't_operators');
    execute format('create view %I.t_operators as select oper_id, name, login_name, note '
                   'from %I.remote_t_operators', link, link);
    execute format('grant usage on schema %I to tulmina_client', link);
    execute format('grant select on %I.t_operators to tulmina_client', link);
end
$$;

create or replace function tulmina_link.drop_link(link_name text)
    returns void
    language plpgsql security definer
    set search_path = pg_catalog, pg_temp
as $$
declare
    link text := lower(link_name);
begin
    if link is null or not tulmina_link.plain_name(link) or link = 'kna' then
        raise exception 'связь с базой данных «%» удалить нельзя', upper(link_name)
            using errcode = '42501';
    end if;
    if not exists (select from pg_foreign_server
                    where srvname = link and srvowner = 'tulmina_links'::regrole) then
        raise exception 'связь с базой данных «%» не найдена', upper(link)
            using errcode = '42704';
    end if;
    execute format('drop server %I cascade', link);
    if exists (select from pg_namespace
                where nspname = link and nspowner = 'tulmina_links'::regrole) then
        execute format('drop schema %I cascade', link);
    end if;
end
$$;

alter function tulmina_link.plain_name(text) owner to tulmina_links;
revoke all on function tulmina_link.plain_name(text) from public;
alter function tulmina_link.create_link(text, text, text) owner to tulmina_links;
alter function tulmina_link.drop_link(text) owner to tulmina_links;
revoke all on function tulmina_link.create_link(text, text, text), tulmina_link.drop_link(text)
    from public;
grant execute on function tulmina_link.create_link(text, text, text),
    tulmina_link.drop_link(text) to tulmina_client;

commit;
