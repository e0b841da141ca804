-- Prepares a reporting database for Tulmina. Run by server/install as a
-- superuser of the reporting server, connected to the reporting database; it
-- may be run again. psql variables:
--   svc_user, svc_password                the service account stored in the program
--   billing_host, billing_port, billing_dbname, billing_schema,
--   billing_user, billing_password        the fixed link kna to the billing database
--   billing_sslmode, billing_sslrootcert  how the reporting server checks the billing one
--
-- Every workstation holds the service account, so whatever it can do alone
-- is harmless: it owns nothing, changes nothing, and reads no subscriber data
-- (names, phones, addresses, debts) and no settlement of the network. Those
-- open only on a connection where an operator has signed in with their own
-- billing password: tulmina_link.create_link checks it against the billing
-- server and records the connection (tulmina_auth). Row-level security on the
-- reporting tables and views over the fixed link kna ask that record once per
-- statement.
\set ON_ERROR_STOP on
-- The fixed link's password travels in this script's statements: none of them
-- is written to the server log.
set log_statement = 'none';
set log_min_error_statement = 'panic';
set log_min_duration_statement = -1;
set client_min_messages = warning;

begin;

-- Roles. tulmina_owner owns the objects; tulmina_links owns the link functions,
-- every per-user link and the record of signed-in connections; tulmina_client
-- holds what the program may do; tulmina_auditor reads the audit trail (a site
-- grants it to its administrators). None of them logs in. The service account
-- is a member of tulmina_client only.
select format('create role %I nologin', r)
  from unnest(array['tulmina_owner', 'tulmina_links', 'tulmina_client', 'tulmina_auditor']) r
 where not exists (select from pg_roles where rolname = r) \gexec
select format('create role %I login', :'svc_user')
 where not exists (select from pg_roles where rolname = :'svc_user') \gexec
alter role :"svc_user" login nosuperuser nocreatedb nocreaterole inherit noreplication nobypassrls
    password :'svc_password';
reassign owned by :"svc_user" to tulmina_owner;
grant tulmina_client to :"svc_user";
-- The link functions tell a live connection from an ended one by its start
-- time, which the activity view shows only to this role's members.
grant pg_read_all_stats to tulmina_links;

-- What the service account's sessions rely on, and what keeps the links'
-- passwords out of the server log. Defaults the account may have set for
-- itself are cleared first: a login role may set its own defaults of every
-- setting a user may change (a PostgreSQL rule), so running the install again
-- mends what it did to its sessions.
--   log_parameter_max_length and log_min_error_statement are superuser
--     settings: the account can change them neither in its sessions nor in
--     its defaults.
--   log_parameter_max_length_on_error is a user setting: the account may
--     raise it in its defaults or a session of its own. The program sets it
--     to 0 in its connection options, which go before role defaults, so no
--     default the account sets can put the values of the program's failing
--     statements into the log.
-- Defaults the account gave itself are cleared, and named.
\pset format unaligned
\pset tuples_only on
select format('install: clearing the setting %s that the service account gave itself', c)
  from pg_catalog.pg_db_role_setting s, unnest(s.setconfig) c
 where s.setrole = (select r.oid from pg_catalog.pg_roles r where r.rolname = :'svc_user')
   and split_part(c, '=', 1) not in ('search_path', 'DateStyle', 'client_min_messages',
                                     'log_parameter_max_length',
                                     'log_parameter_max_length_on_error',
                                     'log_min_error_statement', 'temp_file_limit');
\pset format aligned
\pset tuples_only off
alter role :"svc_user" reset all;
select format('alter role %I in database %I reset all', :'svc_user', current_database()) \gexec
alter role :"svc_user" set search_path = tulmina_compat, pg_catalog, public;
alter role :"svc_user" set datestyle = 'German, DMY';
alter role :"svc_user" set client_min_messages = warning;
alter role :"svc_user" set log_parameter_max_length = 0;
alter role :"svc_user" set log_parameter_max_length_on_error = 0;
alter role :"svc_user" set log_min_error_statement = panic;
-- A sort or hash the account asks for spills to disk only so far: a
-- superuser's setting, which the account cannot change for itself.
alter role :"svc_user" set temp_file_limit = '1GB';

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

-- A password check is recorded before it is made, in a transaction of its own
-- that the caller can neither roll back nor time out: the link functions write
-- that record through a connection of their own to this database (dblink), as
-- a role that can do nothing but that. Its password is made anew at each
-- install and kept in a user mapping that only the link role sees.
create schema if not exists tulmina_loopback authorization tulmina_owner;
revoke all on schema tulmina_loopback from public;
grant usage on schema tulmina_loopback to tulmina_links;
create extension if not exists dblink with schema tulmina_loopback;
revoke usage on foreign data wrapper dblink_fdw from public;
grant usage on foreign data wrapper dblink_fdw to tulmina_links;
select format('create role tulmina_recorder login')
 where not exists (select from pg_roles where rolname = 'tulmina_recorder') \gexec
select pg_catalog.gen_random_uuid()::text as recorder_password \gset
alter role tulmina_recorder login nosuperuser nocreatedb nocreaterole noinherit noreplication
    nobypassrls connection limit 20 password :'recorder_password';
alter role tulmina_recorder reset all;
drop server if exists tulmina_loopback cascade;
select format('create server tulmina_loopback foreign data wrapper dblink_fdw '
              'options (host %L, port %L, dbname %L, application_name %L)',
              pg_catalog.split_part(pg_catalog.current_setting('unix_socket_directories'), ',', 1),
              pg_catalog.current_setting('port'), pg_catalog.current_database(),
              'tulmina check record') \gexec
alter server tulmina_loopback owner to tulmina_owner;
grant usage on foreign server tulmina_loopback to tulmina_links;
create user mapping for tulmina_links server tulmina_loopback
    options (user 'tulmina_recorder', password :'recorder_password');

-- Signed-in connections. A connection is named by its process id together
-- with its start time, so that a process id the system hands out again never
-- inherits a record; a record of a connection that has ended never counts.
create schema if not exists tulmina_auth authorization tulmina_links;
alter schema tulmina_auth owner to tulmina_links;
revoke all on schema tulmina_auth from public;
-- Every role that reads the reporting tables passes their policy's check.
grant usage on schema tulmina_auth to public;

-- The operators signed in, each through a link and on a connection. One link
-- may serve several connections: an operator signed in at two workstations.
-- The token lets a connection opened again after a loss take over its record.
create table if not exists tulmina_auth.holders (
    link          text        not null,
    pid           integer     not null,
    backend_start timestamptz not null,
    operator      text        not null,
    client_addr   inet,
    token_hash    bytea       not null,
    signed_at     timestamptz not null default pg_catalog.now(),
    primary key (link, pid, backend_start)
);
create index if not exists holders_connection on tulmina_auth.holders (pid, backend_start);
-- Failed checks of a billing password in the last minute, for the limits.
create table if not exists tulmina_auth.failures (
    at          timestamptz not null default pg_catalog.clock_timestamp(),
    operator    text        not null,
    client_addr inet
);
-- A check counts as failed from before it is made; its success takes it back.
alter table tulmina_auth.failures add column if not exists check_id uuid;
-- One row per operator name that a billing check was made for: checks of one
-- name take turns on its row. The account can neither read nor lock it, so
-- nothing it takes holds up a sign-in (an advisory lock anyone may take).
create table if not exists tulmina_auth.name_turns (
    operator text primary key
);
-- A link whose creation a connection asked for and was refused: the drop that
-- the sign-in sends after it finds nothing to drop, once.
create table if not exists tulmina_auth.refused (
    link          text        not null,
    pid           integer     not null,
    backend_start timestamptz not null,
    primary key (link, pid, backend_start)
);
alter table tulmina_auth.holders owner to tulmina_links;
alter table tulmina_auth.failures owner to tulmina_links;
alter table tulmina_auth.refused owner to tulmina_links;
alter table tulmina_auth.name_turns owner to tulmina_links;
revoke all on tulmina_auth.holders, tulmina_auth.failures, tulmina_auth.refused,
    tulmina_auth.name_turns from public;

-- The audit trail: sign-ins and their refusals, sign-outs, and each run's list
-- kind, settlement and row count. Written by the link functions only; read by
-- a site's administrators through tulmina_auditor.
create schema if not exists tulmina_audit authorization tulmina_owner;
revoke all on schema tulmina_audit from public;
-- The program may call the one function that records its runs.
grant usage on schema tulmina_audit to tulmina_auditor, tulmina_links, tulmina_client;
create table if not exists tulmina_audit.events (
    at          timestamptz not null default pg_catalog.clock_timestamp(),
    event       text        not null, -- check, sign-in, refused, limited, billing unavailable,
                                      -- resumed, sign-out, run, run failed
    operator    text,
    client_addr inet,
    pid         integer,
    link        text,
    list_kind   text,
    settlement  text,
    town_id     text,
    row_count   integer,
    detail      text                  -- why a check failed, as the billing side said
);
create index if not exists events_at on tulmina_audit.events (at);
alter table tulmina_audit.events owner to tulmina_owner;
revoke all on tulmina_audit.events from public;
grant select on tulmina_audit.events to tulmina_auditor;
grant insert on tulmina_audit.events to tulmina_links;
-- The check's record, and nothing else, through the link functions' own connection.
grant usage on schema tulmina_auth, tulmina_audit to tulmina_recorder;
grant insert on tulmina_auth.failures, tulmina_audit.events to tulmina_recorder;
grant select (check_id), delete on tulmina_auth.failures to tulmina_recorder;
select format('grant connect on database %I to tulmina_recorder', current_database()) \gexec
-- Whether a report was recorded, asked after a commit that lost its answer.
grant select (event, operator, detail) on tulmina_audit.events to tulmina_links;
drop index if exists tulmina_audit.events_report;
create index if not exists events_report_id on tulmina_audit.events (detail) where event = 'run';

-- The start time of this connection.
create or replace function tulmina_auth.connection_start() returns timestamptz
    language sql stable
    as $$ select a.backend_start from pg_catalog.pg_stat_get_activity(pg_catalog.pg_backend_pid()) a $$;
-- Whether the connection of that process id and start time is still there.
create or replace function tulmina_auth.alive(process integer, started timestamptz)
    returns boolean
    language sql stable
    as $$ select exists (select from pg_catalog.pg_stat_get_activity(process) a
                          where a.backend_start = started) $$;

-- The sign-ins of this connection, the latest first; a record whose link has
-- gone counts no more.
create or replace function tulmina_auth.sign_ins()
    returns table (link text, operator text)
    language sql stable
as $$
    select h.link, h.operator
      from tulmina_auth.holders h
      join pg_catalog.pg_foreign_server s on s.srvname = h.link
     where h.pid = pg_catalog.pg_backend_pid() and h.backend_start = tulmina_auth.connection_start()
     order by h.signed_at desc
$$;
-- Whether an operator signed in on this connection through that link, or
-- through any link.
create or replace function tulmina_auth.holds_link(link_name text) returns boolean
    language sql stable security definer
    set search_path = pg_catalog, pg_temp
    as $$ select exists (select from tulmina_auth.sign_ins() s
                          where link_name is null or s.link = link_name) $$;
create or replace function tulmina_auth.signed_in() returns boolean
    language sql stable security definer
    set search_path = pg_catalog, pg_temp
    as $$ select tulmina_auth.holds_link(null) $$;

-- The refusal a connection gets where no operator has signed in on it.
create or replace function tulmina_auth.refuse() returns boolean
    language plpgsql stable
as $$
begin
    raise exception 'данные абонентов открыты только после входа оператора на этом соединении'
        using errcode = '42501';
end
$$;

-- The check of every policy and view that guards subscriber data, asked once
-- per statement: true for the site's own roles and superusers; for the
-- program's (members of tulmina_client) only on a signed-in connection, and
-- otherwise a refusal, so that a run never reads an empty list for a full one.
create or replace function tulmina_auth.subscribers_open(who name) returns boolean
    language plpgsql stable security definer
    set search_path = pg_catalog, pg_temp
as $$
begin
    if exists (select from pg_catalog.pg_roles r
                where r.rolname = who
                  and (r.rolsuper or not pg_catalog.pg_has_role(r.oid, 'tulmina_client', 'member')))
       or tulmina_auth.signed_in() then
        return true;
    end if;
    return tulmina_auth.refuse();
end
$$;

-- A row of the audit trail about this connection.
create or replace function tulmina_auth.note(event text, operator text, link text,
                                             detail text default null)
    returns void
    language sql volatile
    as $$ insert into tulmina_audit.events (event, operator, client_addr, pid, link, detail)
          values ($1, $2, pg_catalog.inet_client_addr(), pg_catalog.pg_backend_pid(), $3, $4) $$;

alter function tulmina_auth.refuse() owner to tulmina_links;
alter function tulmina_auth.connection_start() owner to tulmina_links;
alter function tulmina_auth.alive(integer, timestamptz) owner to tulmina_links;
alter function tulmina_auth.sign_ins() owner to tulmina_links;
alter function tulmina_auth.holds_link(text) owner to tulmina_links;
alter function tulmina_auth.signed_in() owner to tulmina_links;
alter function tulmina_auth.subscribers_open(name) owner to tulmina_links;
alter function tulmina_auth.note(text, text, text, text) owner to tulmina_links;
revoke all on function tulmina_auth.refuse(), tulmina_auth.connection_start(),
    tulmina_auth.alive(integer, timestamptz), tulmina_auth.sign_ins(),
    tulmina_auth.holds_link(text), tulmina_auth.signed_in(), tulmina_auth.note(text, text, text, text)
    from public;
grant execute on function tulmina_auth.holds_link(text), tulmina_auth.signed_in()
    to tulmina_client;
grant execute on function tulmina_auth.subscribers_open(name) to public;

-- Tables of the reporting side. A site whose nightly processes already fill
-- them keeps them as they are; only the grants and the policies below are
-- added, and the policies let every role but the program's through.
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
-- The debts and phones, the snapshot rows, and the settlements with their
-- exchanges (which tell the number ranges of each settlement; nothing reads
-- them before a sign-in) open only on a signed-in connection; the check is an
-- initial plan of the statement, made once, not once per row.
select format('alter table public.%I enable row level security', t),
       format('drop policy if exists tulmina_signed_in on public.%I', t),
       format('create policy tulmina_signed_in on public.%I for all to public '
              'using ((select tulmina_auth.subscribers_open(current_user))) '
              'with check ((select tulmina_auth.subscribers_open(current_user)))', t)
  from unnest(array['atstown', 'lst_deb_always', 'pays_debs_tmp', 'pays_debs_tmp_r']) t \gexec
-- The planner's statistics of a column can be read back through estimates; the
-- phones keep none.
alter table public.lst_deb_always alter column phone set statistics 0;
delete from pg_statistic s
 using pg_attribute a
 where a.attrelid = 'public.lst_deb_always'::regclass and a.attname = 'phone'
   and s.starelid = a.attrelid and s.staattnum = a.attnum;

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
-- A connection sees the fixed link and the links it signed in through: which
-- operators are signed in elsewhere is not its business. Their options hold no
-- secret: the passwords are in user mappings.
create or replace view tulmina_compat.all_db_links as
select pg_catalog.upper(pg_catalog.pg_get_userbyid(s.srvowner))::varchar(128) as owner,
       pg_catalog.upper(s.srvname)::varchar(128) as db_link,
       (select o.option_value from pg_catalog.pg_options_to_table(s.srvoptions) o
         where o.option_name = 'dbname')::varchar(128) as host,
       null::date as created
  from pg_catalog.pg_foreign_server s
 where s.srvname = 'kna'
    or (s.srvowner = (select r.oid from pg_catalog.pg_roles r where r.rolname = 'tulmina_links')
        and tulmina_auth.holds_link(s.srvname));
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
-- nobody logs in as) sees its options. Its tables stand in tulmina_kna, which
-- the program cannot reach; the program reads them through views of the same
-- names in kna, which show them only to a signed-in connection.
drop server if exists kna cascade;
drop schema if exists kna cascade;
drop schema if exists tulmina_kna cascade;
select format('create server kna foreign data wrapper postgres_fdw '
              'options (host %L, port %L, dbname %L, sslmode %L%s)',
              :'billing_host', :'billing_port', :'billing_dbname', :'billing_sslmode',
              case when :'billing_sslrootcert' = '' then ''
                   else format(', sslrootcert %L', :'billing_sslrootcert') end) \gexec
alter server kna owner to tulmina_owner;
create user mapping for public server kna
    options (user :'billing_user', password :'billing_password');
create schema tulmina_kna authorization tulmina_owner;
revoke all on schema tulmina_kna from public;
import foreign schema :"billing_schema"
    limit to (t_town_type, t_town, t_street_type, t_streets_ref, o_houses, t_users)
    from server kna into tulmina_kna;
select format('alter foreign table tulmina_kna.%I owner to tulmina_owner', c.relname)
  from pg_class c join pg_namespace n on n.oid = c.relnamespace
 where n.nspname = 'tulmina_kna' \gexec
-- The subscribers' own columns keep no statistics (see lst_deb_always.phone).
select format('alter foreign table tulmina_kna.t_users alter column %I set statistics 0', a.attname)
  from pg_attribute a
 where a.attrelid = 'tulmina_kna.t_users'::regclass and a.attnum > 0 and not a.attisdropped
   and a.attname not in ('user_id', 'house_id') \gexec
-- Statistics of the link's tables let the planner send an address lookup to
-- the billing server as one joined query; tables imported anew have none.
analyze tulmina_kna.t_town_type, tulmina_kna.t_town, tulmina_kna.t_street_type,
    tulmina_kna.t_streets_ref, tulmina_kna.o_houses, tulmina_kna.t_users;
-- The views' one condition holds no column: the planner makes it a one-time
-- filter above the scans, or above the join it sends to the billing server,
-- and it is asked before any row is read, so nothing of a row (a cast that
-- would print it, say) can come before it. A security barrier would add
-- nothing to such a condition and would keep each table's scan apart: the
-- address lookup would read whole tables.
create schema kna authorization tulmina_owner;
select format('create view kna.%1$I as select * from tulmina_kna.%1$I '
              'where (select tulmina_auth.subscribers_open(current_user))', c.relname),
       format('alter view kna.%I owner to tulmina_owner', c.relname)
  from pg_class c join pg_namespace n on n.oid = c.relnamespace
 where n.nspname = 'tulmina_kna' \gexec
grant usage on schema kna to tulmina_client;
grant select on all tables in schema kna to tulmina_client;

-- Per-user links. A link is a foreign server to where kna points, a user
-- mapping for tulmina_links with the operator's billing name and password, and
-- a schema of the link's name holding the one table the sign-in reads, as a
-- view that shows it only to a connection signed in through that link.
create schema if not exists tulmina_link authorization tulmina_owner;
revoke all on schema tulmina_link from public;
grant usage on schema tulmina_link to tulmina_client, tulmina_links;

-- A name a link or a billing user may take: a plain identifier of at most 30
-- characters, in lower case.
create or replace function tulmina_link.plain_name(name text) returns boolean
    language sql immutable parallel safe
    as $$ select name ~ '^[a-z][a-z0-9_$#]{0,29}$' $$;

-- The operators' table through a link, for a connection signed in through it;
-- others are refused before anything is read from the billing server.
create or replace function tulmina_link.operators_of(link_name text)
    returns table (oper_id numeric, name varchar, login_name varchar, note varchar)
    language plpgsql stable security definer
    set search_path = pg_catalog, pg_temp
as $$
begin
    if not tulmina_auth.holds_link(link_name) then
        raise exception 'связь «%» открыта только соединению, на котором через неё вошёл оператор',
            upper(link_name) using errcode = '42501';
    end if;
    return query execute format('select oper_id, name, login_name, note from %I.remote_t_operators',
                                link_name);
end
$$;

-- The link's objects with these billing credentials: made when missing, else
-- given the credentials. A failure never carries the statement, which holds
-- the password.
create or replace function tulmina_link.prepare_link(link text, who text, remote_password text)
    returns void
    language plpgsql
    set search_path = pg_catalog, pg_temp
as $$
declare
    kna_options text;
    remote_schema text;
    made boolean := exists (select from pg_foreign_server where srvname = link);
begin
    if not made then
        select string_agg(format('%I %L', option_name, option_value), ', ')
          into kna_options
          from pg_options_to_table((select srvoptions from pg_foreign_server where srvname = 'kna'));
        execute format('create server %I foreign data wrapper postgres_fdw options (%s)',
                       link, kna_options);
    end if;
    begin
        if made then
            execute format('alter user mapping for current_user server %I '
                           'options (set user %L, set password %L)', link, who, remote_password);
        else
            execute format('create user mapping for current_user server %I '
                           'options (user %L, password %L)', link, who, remote_password);
        end if;
    exception when others then
        raise exception 'связь с базой данных «%» не создана', upper(link)
            using errcode = sqlstate;
    end;
    if made then
        return;
    end if;
    select o.option_value into remote_schema
      from pg_foreign_table f
      join pg_class c on c.oid = f.ftrelid
      join pg_namespace n on n.oid = c.relnamespace,
           pg_options_to_table(f.ftoptions) o
     where n.nspname = 'tulmina_kna' and c.relname = 't_users' and o.option_name = 'schema_name';
    execute format('create schema %I', link);
    execute format('create foreign table %I.remote_t_operators (oper_id numeric, '
                   'name varchar, login_name varchar, note varchar) server %I '
                   'options (schema_name %L, table_name %L)',
                   link, link, coalesce(remote_schema, 'public'), 't_operators');
    execute format('create view %I.t_operators as select oper_id, name, login_name, note '
                   'from tulmina_link.operators_of(%L)', link, link);
    execute format('grant usage on schema %I to tulmina_client', link);
    execute format('grant select on %I.t_operators to tulmina_client', link);
end
$$;

-- A link's server, mapping, schema and views. The view is locked first, as a
-- lookup through it locks it before the foreign table: a drop and another
-- workstation's lookup wait for each other, never deadlock.
create or replace function tulmina_link.drop_link_objects(link text)
    returns void
    language plpgsql
    set search_path = pg_catalog, pg_temp
as $$
begin
    if exists (select from pg_namespace
                where nspname = link and nspowner = 'tulmina_links'::regrole) then
        if exists (select from pg_class c join pg_namespace n on n.oid = c.relnamespace
                    where n.nspname = link and c.relname = 't_operators') then
            execute format('lock table %I.t_operators in access exclusive mode', link);
        end if;
        execute format('drop server if exists %I cascade', link);
        execute format('drop schema %I cascade', link);
    else
        execute format('drop server if exists %I cascade', link);
    end if;
end
$$;

-- Links whose connections all ended more than a day ago, with their records:
-- nobody comes back for them.
create or replace function tulmina_link.drop_abandoned_links()
    returns void
    language plpgsql
    set search_path = pg_catalog, pg_temp
as $$
declare
    abandoned text;
begin
    delete from tulmina_auth.holders h
     where h.signed_at < now() - interval '1 day' and not tulmina_auth.alive(h.pid, h.backend_start);
    for abandoned in
        select s.srvname from pg_foreign_server s
         where s.srvowner = 'tulmina_links'::regrole
           and not exists (select from tulmina_auth.holders h where h.link = s.srvname)
           and not exists (select from tulmina_auth.refused r where r.link = s.srvname
                                                          and tulmina_auth.alive(r.pid, r.backend_start))
    loop
        perform tulmina_link.drop_link_objects(abandoned);
    end loop;
end
$$;

-- A link under the operator's name, and this connection signed in through it,
-- when the billing server takes the name and password: one connection through
-- the link, kept for the lookup that follows. Returns the token that lets this
-- connection's successor take over (tulmina_link.resume_link).
-- A refused password leaves everything as it was, the link of an operator
-- signed in elsewhere too, and returns null: the lookup through the link then
-- fails, as it fails on an Oracle server. Each refusal answers after a second;
-- with five refusals in the last minute for the operator name or for the
-- client address, no more are checked until the oldest is a minute old.
create or replace function tulmina_link.create_link(link_name text, remote_user text,
                                                    remote_password text)
    returns text
    language plpgsql security definer
    set search_path = pg_catalog, pg_temp
as $$
declare
    this_link text := lower(link_name);
    who text := lower(remote_user);
    address inet := inet_client_addr();
    started timestamptz := tulmina_auth.connection_start();
    reason text;
    token text;
    this_check uuid;
begin
    if this_link is null or not tulmina_link.plain_name(this_link) or this_link = 'kna' then
        raise exception 'имя связи с базой данных недопустимо' using errcode = '42602';
    end if;
    if who is null or not tulmina_link.plain_name(who) then
        raise exception 'имя пользователя биллинга недопустимо' using errcode = '42602';
    end if;
    if remote_password is null or remote_password = '' then
        raise exception 'пароль пользователя биллинга пуст' using errcode = '28P01';
    end if;
    -- A name is taken by anything but a link of ours: a server, or a schema
    -- that is not the schema of a link.
    if exists (select from pg_foreign_server
                where srvname = this_link and srvowner <> 'tulmina_links'::regrole)
       or exists (select from pg_namespace
                   where nspname = this_link
                     and (nspowner <> 'tulmina_links'::regrole
                          or not exists (select from pg_foreign_server
                                          where srvname = this_link))) then
        raise exception 'связь с базой данных «%» уже есть', upper(this_link)
            using errcode = '42710';
    end if;
    -- Checks of one operator name wait for each other, so that tries made in
    -- parallel are counted as they go.
    -- The link's name takes its turn too: a sign-in and another
    -- workstation's close of the same link never interleave.
    insert into tulmina_auth.name_turns values (who), (this_link) on conflict do nothing;
    perform from tulmina_auth.name_turns t
     where t.operator in (who, this_link) order by t.operator for update;
    delete from tulmina_auth.failures where at < clock_timestamp() - interval '1 minute';
    delete from tulmina_auth.refused r where not tulmina_auth.alive(r.pid, r.backend_start);
    if (select count(*) from tulmina_auth.failures where operator = who) >= 5
       or (select count(*) from tulmina_auth.failures
            where client_addr is not distinct from address) >= 5 then
        insert into tulmina_auth.refused values (this_link, pg_backend_pid(), started)
            on conflict do nothing;
        perform tulmina_auth.note('limited', who, this_link);
        perform pg_sleep(1);
        return null;
    end if;
    -- A check is the billing server's word on this name and this password:
    -- never a connection through the link still open from earlier in this
    -- transaction (the one an earlier check opened), which would take any.
    if exists (select from public.postgres_fdw_get_connections() c where c.server_name = this_link)
       and not public.postgres_fdw_disconnect(this_link) then
        raise exception 'связь «%» уже проверена в этой транзакции', upper(this_link)
            using errcode = '25001';
    end if;
    -- Counted and recorded before the check, where no rollback, timeout or
    -- cancel of the caller reaches; a success takes the count back.
    this_check := pg_catalog.gen_random_uuid();
    perform tulmina_loopback.dblink_exec('tulmina_loopback', format(
        'insert into tulmina_auth.failures (operator, client_addr, check_id) values (%L, %L, %L); '
        'insert into tulmina_audit.events (event, operator, client_addr, pid, link) '
        'values (''check'', %L, %L, %s, %L)',
        who, address, this_check, who, address, pg_backend_pid(), this_link));
    begin
        perform tulmina_link.prepare_link(this_link, who, remote_password);
        begin
            execute format('select count(*) from (select from %I.remote_t_operators limit 1) o',
                           this_link);
        exception when others then
            get stacked diagnostics reason = pg_exception_detail;
            reason := coalesce(nullif(reason, ''), sqlerrm);
            raise exception using errcode = 'TLCHK';
        end;
    exception when sqlstate 'TLCHK' then
        -- Only the billing server's refusal of the name and password counts:
        -- a server that cannot be reached, is full or is starting says so,
        -- and takes the count back. A reason not known counts as a refusal.
        if reason ~* ('connection refused|could not connect|timeout expired|could not translate '
                      'host name|no route to host|network is unreachable|server closed the '
                      'connection unexpectedly|too many clients|too many connections|remaining '
                      'connection slots|the database system is') then
            perform tulmina_loopback.dblink_exec('tulmina_loopback', format(
                'delete from tulmina_auth.failures where check_id = %L; '
                'insert into tulmina_audit.events (event, operator, client_addr, pid, link, detail) '
                'values (''billing unavailable'', %L, %L, %s, %L, %L)',
                this_check, who, address, pg_backend_pid(), this_link, reason));
            raise exception 'сервер биллинга недоступен: %', reason using errcode = '08001';
        end if;
        insert into tulmina_auth.refused values (this_link, pg_backend_pid(), started)
            on conflict do nothing;
        perform tulmina_auth.note('refused', who, this_link, reason);
        perform pg_sleep(1);
        return null;
    end;
    delete from tulmina_auth.failures f where f.check_id = this_check;
    delete from tulmina_auth.refused
     where refused.link = this_link and pid = pg_backend_pid() and backend_start = started;
    token := replace(gen_random_uuid()::text || gen_random_uuid()::text, '-', '');
    insert into tulmina_auth.holders (link, pid, backend_start, operator, client_addr, token_hash)
    values (this_link, pg_backend_pid(), started, who, address, sha256(convert_to(token, 'UTF8')))
        on conflict (link, pid, backend_start)
        do update set operator = excluded.operator, client_addr = excluded.client_addr,
                      token_hash = excluded.token_hash, signed_at = now();
    perform tulmina_auth.note('sign-in', who, this_link);
    perform tulmina_link.drop_abandoned_links();
    return token;
end
$$;

-- The check's connection to the billing server, closed once the operator has
-- been looked up through the link: at rest a workstation holds one connection
-- to the billing server, the fixed link's.
create or replace function tulmina_link.close_check(link_name text)
    returns void
    language plpgsql security definer
    set search_path = pg_catalog, pg_temp
as $$
begin
    if tulmina_auth.holds_link(lower(link_name))
       and exists (select from public.postgres_fdw_get_connections() c
                    where c.server_name = lower(link_name)) then
        perform public.postgres_fdw_disconnect(lower(link_name));
    end if;
end
$$;

-- Ends this connection's sign-in through the link, and drops the link when no
-- other live connection is signed in through it. The link of another live
-- connection is refused, and so is, for a day, one whose connections were
-- ended: they come back with their tokens. A link nobody signed in through is
-- dropped by anyone. After a refused creation the sign-in's drop finds
-- nothing, and is let through once.
create or replace function tulmina_link.drop_link(link_name text)
    returns void
    language plpgsql security definer
    set search_path = pg_catalog, pg_temp
as $$
declare
    this_link text := lower(link_name);
    started timestamptz := tulmina_auth.connection_start();
    signed_out text;
begin
    if this_link is null or not tulmina_link.plain_name(this_link) or this_link = 'kna' then
        raise exception 'связь с базой данных «%» удалить нельзя', upper(link_name)
            using errcode = '42501';
    end if;
    insert into tulmina_auth.name_turns values (this_link) on conflict do nothing;
    perform from tulmina_auth.name_turns t where t.operator = this_link for update;
    delete from tulmina_auth.holders h
     where h.link = this_link and h.pid = pg_backend_pid() and h.backend_start = started
    returning operator into signed_out;
    if signed_out is not null then
        perform tulmina_auth.note('sign-out', signed_out, this_link);
        if exists (select from tulmina_auth.holders h
                    where h.link = this_link and tulmina_auth.alive(h.pid, h.backend_start))
           or not exists (select from pg_foreign_server where srvname = this_link) then
            return; -- the link goes with the last connection signed in through it
        end if;
    else
        delete from tulmina_auth.refused r
         where r.link = this_link and r.pid = pg_backend_pid() and r.backend_start = started;
        if found then
            return;
        end if;
        if not exists (select from pg_foreign_server
                        where srvname = this_link and srvowner = 'tulmina_links'::regrole) then
            raise exception 'связь с базой данных «%» не найдена', upper(this_link)
                using errcode = '42704';
        end if;
        if exists (select from tulmina_auth.holders h
                    where h.link = this_link and tulmina_auth.alive(h.pid, h.backend_start)) then
            raise exception 'связь с базой данных «%» занята другим соединением', upper(this_link)
                using errcode = '42501';
        end if;
        -- A connection that another ended (terminated, or lost) comes back
        -- with its token: its link waits for it a day, or for the operator's
        -- next sign-in, which takes it over.
        if exists (select from tulmina_auth.holders h
                    where h.link = this_link and h.signed_at > now() - interval '1 day') then
            raise exception 'связь с базой данных «%» ждёт своё соединение', upper(this_link)
                using errcode = '42501';
        end if;
    end if;
    perform tulmina_link.drop_link_objects(this_link);
    delete from tulmina_auth.holders h where h.link = this_link;
end
$$;

-- A connection opened again after its predecessor was lost takes over the
-- predecessor's sign-in through the link, with the token create_link gave.
create or replace function tulmina_link.resume_link(link_name text, token text)
    returns void
    language plpgsql security definer
    set search_path = pg_catalog, pg_temp
as $$
declare
    this_link text := lower(link_name);
    started timestamptz := tulmina_auth.connection_start();
    who text;
begin
    delete from tulmina_auth.holders h
     where h.link = this_link and h.pid = pg_backend_pid() and h.backend_start = started;
    update tulmina_auth.holders h set pid = pg_backend_pid(), backend_start = started
     where h.link = this_link and h.token_hash = sha256(convert_to(token, 'UTF8'))
       and exists (select from pg_foreign_server s where s.srvname = h.link)
    returning operator into who;
    if who is null then
        raise exception 'вход через связь «%» не восстановлен: войдите снова', upper(this_link)
            using errcode = '28000';
    end if;
    perform tulmina_auth.note('resumed', who, this_link);
end
$$;

-- One run: its list kind, settlement and row count, under the operator signed
-- in on this connection. A report's run is recorded in the transaction of its
-- snapshot rows, with the report's id, so that a workstation whose commit lost
-- its answer can ask on a new connection whether the report was recorded; a
-- run that failed is recorded as such ('run failed').
drop function if exists tulmina_audit.record_run(text, text, text, integer);
drop function if exists tulmina_audit.record_report(text, integer);
create or replace function tulmina_audit.record_run(list_kind text, settlement text,
                                                    town_id text, row_count integer,
                                                    report_id text default null,
                                                    failed boolean default false)
    returns void
    language plpgsql security definer
    set search_path = pg_catalog, pg_temp
as $$
declare
    who text;
    through text;
begin
    select s.operator, s.link into who, through from tulmina_auth.sign_ins() s limit 1;
    if who is null then
        perform tulmina_auth.refuse();
    end if;
    insert into tulmina_audit.events (event, operator, client_addr, pid, link, list_kind,
                                      settlement, town_id, row_count, detail)
    values (case when failed then 'run failed' else 'run' end, who, inet_client_addr(),
            pg_backend_pid(), through, list_kind, settlement, town_id, row_count,
            left(report_id, 64));
end
$$;

-- Whether the signed-in operator's report of that id was recorded.
create or replace function tulmina_audit.report_recorded(report_id text)
    returns boolean
    language plpgsql stable security definer
    set search_path = pg_catalog, pg_temp
as $$
declare
    who text;
begin
    select s.operator into who from tulmina_auth.sign_ins() s limit 1;
    if who is null then
        perform tulmina_auth.refuse();
    end if;
    return exists (select from tulmina_audit.events e
                    where e.event = 'run' and e.operator = who
                      and e.detail = left(report_id, 64));
end
$$;

alter function tulmina_link.plain_name(text) owner to tulmina_links;
alter function tulmina_link.operators_of(text) owner to tulmina_links;
alter function tulmina_link.prepare_link(text, text, text) owner to tulmina_links;
alter function tulmina_link.create_link(text, text, text) owner to tulmina_links;
alter function tulmina_link.drop_link(text) owner to tulmina_links;
alter function tulmina_link.drop_abandoned_links() owner to tulmina_links;
alter function tulmina_link.drop_link_objects(text) owner to tulmina_links;
alter function tulmina_link.close_check(text) owner to tulmina_links;
alter function tulmina_link.resume_link(text, text) owner to tulmina_links;
alter function tulmina_audit.record_run(text, text, text, integer, text, boolean)
    owner to tulmina_links;
alter function tulmina_audit.report_recorded(text) owner to tulmina_links;
revoke all on function tulmina_link.plain_name(text), tulmina_link.operators_of(text),
    tulmina_link.prepare_link(text, text, text), tulmina_link.create_link(text, text, text),
    tulmina_link.drop_link(text), tulmina_link.resume_link(text, text),
    tulmina_link.drop_abandoned_links(), tulmina_link.close_check(text),
    tulmina_link.drop_link_objects(text),
    tulmina_audit.record_run(text, text, text, integer, text, boolean),
    tulmina_audit.report_recorded(text)
    from public;
grant execute on function tulmina_link.close_check(text) to tulmina_client;
grant execute on function tulmina_link.operators_of(text), tulmina_link.create_link(text, text, text),
    tulmina_link.drop_link(text), tulmina_link.resume_link(text, text),
    tulmina_audit.record_run(text, text, text, integer, text, boolean),
    tulmina_audit.report_recorded(text) to tulmina_client;

-- Large objects would be storage the account owns outside every table's
-- rules, and a way to fill the disk: none are made in this database.
revoke execute on function pg_catalog.lo_creat(integer), pg_catalog.lo_create(oid),
    pg_catalog.lo_from_bytea(oid, bytea), pg_catalog.lo_put(oid, bigint, bytea),
    pg_catalog.lo_import(text), pg_catalog.lo_import(text, oid),
    pg_catalog.lowrite(integer, bytea)
    from public;

-- Links made before this install read their operators through the same view.
select format('create or replace view %1$I.t_operators as select oper_id, name, login_name, note '
              'from tulmina_link.operators_of(%1$L)', s.srvname)
  from pg_foreign_server s
 where s.srvowner = 'tulmina_links'::regrole
   and exists (select from pg_namespace n where n.nspname = s.srvname) \gexec

commit;

-- The link functions record each password check through their own
-- connection to this database: without it no sign-in can be made.
do $$
begin
    set local role tulmina_links;
    perform tulmina_loopback.dblink_exec('tulmina_loopback', 'reset application_name');
exception when others then
    raise exception 'install: the link functions cannot reach this database as tulmina_recorder '
                    '(%); allow it in pg_hba.conf: local % tulmina_recorder scram-sha-256',
                    sqlerrm, current_database();
end
$$;

-- Other databases of this cluster the service account may connect to: the
-- account is public, so each of them is open to anyone with the program.
\pset format unaligned
\pset tuples_only on
select format('install: the service account %s may connect to database %s as well; '
              'close it with: revoke connect on database %I from public (and from any role '
              'the account belongs to), or in pg_hba.conf', :'svc_user', d.datname, d.datname)
  from pg_database d
 where d.datallowconn and d.datname <> current_database()
   and has_database_privilege(:'svc_user', d.oid, 'connect')
 order by d.datname;
