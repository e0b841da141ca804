-- The reporting database (report): tables of the service account and the
-- objects that let Oracle-dialect statements run unchanged. Run as superuser.
-- psql variables: svc_user.
create extension if not exists postgres_fdw;
grant usage on foreign data wrapper postgres_fdw to :"svc_user";

-- Oracle concatenation treats null as an empty string. The service account's
-- search path puts public before pg_catalog, so this operator takes the place
-- of the built-in text || text for it.
create function public.ora_concat(a text, b text) returns text
    language sql immutable parallel safe
    as $$ select nullif(pg_catalog.concat(a, b), '') $$;
create operator public.|| (leftarg = text, rightarg = text, function = public.ora_concat);

-- to_date with one argument reads the session's default date form (German, DMY).
create function public.to_date(text) returns date
    language sql stable parallel safe
    as $$ select $1::date $$;

-- Database links are foreign servers; the dictionary names them in capitals.
create view public.all_db_links as
select upper(r.rolname)::varchar(128) as owner,
       upper(s.srvname)::varchar(128) as db_link,
       (select o.option_value from pg_options_to_table(s.srvoptions) o
         where o.option_name = 'dbname')::varchar(128) as host,
       null::date as created
  from pg_foreign_server s
  join pg_roles r on r.oid = s.srvowner
 where has_server_privilege(s.oid, 'USAGE');
grant select on public.all_db_links to public;

set role :"svc_user";
create table atstown (
    name         varchar(50),
    town_id      numeric(13),
    id_territory numeric(13),
    name_terr    varchar(50),
    atskod       varchar(10)
);
create table lst_deb_always (
    phone        varchar(16),
    cur_deb      numeric(12, 2),
    user_id      bigint,
    town_id      numeric(13),
    id_territory numeric(13),
    iscorp       char(1),
    date_on      date
);
create table pays_debs_tmp (
    user_id  bigint,
    pay_date date
);
create table pays_debs_tmp_r (
    user_id  bigint,
    pay_date date
);
reset role;
