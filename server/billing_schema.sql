-- The billing database (kvarn): the tables the program reads through links.
create table t_town_type (
    type_town_id integer primary key,
    shortname    varchar(10) not null
);
create table t_town (
    town_id      numeric(13) primary key,
    name         varchar(50) not null,
    type_town_id integer references t_town_type
);
create table t_street_type (
    type_street_id integer primary key,
    name           varchar(30) not null,
    shortname      varchar(10) not null
);
create table t_streets_ref (
    street_id      integer primary key,
    name           varchar(60) not null,
    town_id        numeric(13) references t_town,
    type_street_id integer references t_street_type
);
create table o_houses (
    house_id  integer primary key,
    house     varchar(10) not null,
    corpus    varchar(10),
    street_id integer references t_streets_ref
);
-- Beside the address, a subscriber carries the line and balance that the
-- nightly debt list is made from.
create table t_users (
    user_id  bigint primary key,
    account  varchar(12) not null,
    name     varchar(120),
    flat     varchar(10),
    house_id integer references o_houses,
    phone    varchar(16),
    iscorp   char(1) not null default 'N',
    balance  numeric(12, 2) not null default 0,
    date_on  date
);
create table t_operators (
    oper_id    numeric(10) primary key,
    name       varchar(120),
    login_name varchar(30) not null,
    note       varchar(200)
);

grant select on t_operators to billing_operators;
grant select on t_town_type, t_town, t_street_type, t_streets_ref, o_houses, t_users to kna_link;

-- The exchanges of the network; the reporting side copies them into atstown.
create table t_exchange (
    town_id      numeric(13) references t_town,
    id_territory numeric(13),
    name_terr    varchar(50),
    atskod       varchar(10) primary key,
    seq          integer not null
);
grant select on t_exchange to kna_link;
