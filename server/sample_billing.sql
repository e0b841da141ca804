-- Deterministic sample data of the billing database. psql variable: n, the
-- number of subscribers (each one a row of the reporting side's debt list).
begin;
truncate t_users, o_houses, t_streets_ref, t_street_type, t_exchange, t_town, t_town_type,
         t_operators;

insert into t_town_type values (1, 'г.'), (2, 'с.'), (3, 'п.');
insert into t_street_type values
    (1, 'УЛИЦА', 'ул.'), (2, 'ПЕРЕУЛОК', 'пер.'), (3, 'ШОССЕ', 'ш.'), (4, 'ПРОСПЕКТ', 'пр-т');

create temporary table settlement (idx int, town_id numeric(13), name text, type_town_id int,
                                   id_territory numeric(13), name_terr text, codes text[]);
insert into settlement values
    (1, 2700000500000, 'Биробиджан', 1, 2700000000000, 'Биробиджан',
        '{421722,421723,421724,421726,421727}'),
    (2, 2701000100000, 'Облучье', 1, 2701000000000, 'Облученский район',
        '{421662,421663,421664}'),
    (3, 2700600100000, 'Николаевка', 3, 2700600000000, 'Смидовичский район',
        '{421652,421653,421654,421655}'),
    (4, 2700700100000, 'Ленинское', 2, 2700700000000, 'Ленинский район',
        '{421632,421633,421634}'),
    (5, 2700800100000, 'Смидович', 3, 2700600000000, 'Смидовичский район', '{421622,421623}'),
    (6, 2700900100000, 'Амурзет', 2, 2700900000000, 'Октябрьский район',
        '{421731,421660,421732}'),
    (7, 2700300100000, 'Бира', 2, 2700600000000, 'Смидовичский район', '{421671}'),
    (8, 2700400100000, 'СНТ ''Заря''', 3, 2700000000000, 'Биробиджан', '{421681}');

insert into t_town select town_id, name, type_town_id from settlement;
insert into t_exchange
select s.town_id, s.id_territory, s.name_terr, c.code, c.ord
  from settlement s, unnest(s.codes) with ordinality as c(code, ord);

insert into t_streets_ref
select s.idx * 10 + k,
       (array['Ленина', 'Советская', 'Пионерская', 'Октябрьская', 'Волочаевское', 'Заводской'])[k],
       s.town_id,
       (array[1, 1, 1, 4, 3, 2])[k]
  from settlement s, generate_series(1, 6) k;

insert into o_houses
select st.street_id * 100 + h, h::text,
       case when h % 5 = 0 then '2' when h % 7 = 0 then '0' end,
       st.street_id
  from t_streets_ref st, generate_series(1, 25) h;

-- Subscriber i; j is the line's source: every 43rd subscriber shares the line
-- of the one before (two accounts on one number).
insert into t_users
select i.i + 4000000000,
       lpad(((i.i * 7919) % 1000000)::text, 6, '0'),
       case when i.i % 71 = 0 then null
            when i.i % 6 = 0 then
                (array['ООО "Восток"', 'ИП Ковалёв А.С.', 'МУП "Водоканал"', 'ОАО "Дальсвязь"',
                       'ЗАО "Хинган"', 'ООО "Бира-Лес"'])[1 + (i.i / 6) % 6]
            else (array['Иванов', 'Петров', 'Сидоров', 'Кузнецов', 'Смирнов', 'Попов', 'Васильев',
                        'Соколов', 'Михайлов', 'Новиков', 'Фёдоров', 'Морозов', 'Волков'])[1 + i.i % 13]
                 || ' ' || (array['Сергей', 'Андрей', 'Павел', 'Николай', 'Виктор', 'Олег',
                                  'Юрий'])[1 + (i.i / 13) % 7]
                 || ' ' || (array['Петрович', 'Иванович', 'Семёнович', 'Ильич', 'Борисович'])
                           [1 + (i.i / 91) % 5]
       end,
       case when i.i % 6 = 0 or i.i % 4 = 0 then null when i.i % 11 = 0 then '0'
            else (1 + i.i % 120)::text end,
       (s.idx * 10 + 1 + j.j % 6) * 100 + 1 + (j.j * 7) % 25,
       case when i.i % 101 = 0 then null
            when i.i % 37 = 0 then left(code.atskod || lpad(((j.j * 7) % 10000)::text, 4, '0'), 9)
            else code.atskod || lpad(((j.j * 7) % 10000)::text, 4, '0') end,
       case when i.i % 6 = 0 then 'Y' else 'N' end,
       case when i.i % 9 = 0 then (i.i % 50) * 10.0
            else -((i.i * 7919) % 600000) / 100.0 end,
       date '1995-01-01' + (j.j * 97) % 6300
  from generate_series(1, :n) i(i)
  cross join lateral (select case when i.i % 43 = 0 then i.i - 1 else i.i end) j(j)
  join settlement s on s.idx = case when j.j % 10 < 3 then 1 else 2 + j.j % 7 end
  cross join lateral (select s.codes[1 + (j.j / 10) % cardinality(s.codes)]) code(atskod);

insert into t_operators values
    (1, 'Иванова Мария Петровна', 'IVANOVA', 'демонстрационная учётная запись'),
    (2, 'Петров Андрей Ильич', 'PETROV', null),
    (3, null, 'NONAME', 'оператор без имени');
commit;
