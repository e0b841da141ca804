-- Fills the reporting side from the billing sample, as the nightly processes
-- would: the exchanges and the debt list. Run as superuser in report.
begin;
truncate atstown, lst_deb_always, pays_debs_tmp, pays_debs_tmp_r;
create schema sample_src;
import foreign schema public limit to (t_exchange) from server kna into sample_src;

insert into atstown
select t.name, e.town_id, e.id_territory, e.name_terr, e.atskod
  from sample_src.t_exchange e join tulmina_kna.t_town t using (town_id)
 order by t.town_id, e.seq;

insert into lst_deb_always
select u.phone, u.balance, u.user_id, st.town_id, terr.id_territory, u.iscorp, u.date_on
  from tulmina_kna.t_users u
  join tulmina_kna.o_houses h using (house_id)
  join tulmina_kna.t_streets_ref st using (street_id)
  join (select distinct town_id, id_territory from sample_src.t_exchange) terr
    on terr.town_id = st.town_id;

-- Debtors whose subscriber row has not reached the billing copy yet: they have
-- no address.
insert into lst_deb_always
select '421722' || lpad((9000 + k)::text, 4, '0'), -150.5 * k, 4100000000 + k,
       2700000500000, 2700000000000, 'N', date '2005-05-05'
  from generate_series(1, greatest(:n / 200, 1)) k;

drop schema sample_src cascade;
commit;

-- Statistics of the link's tables let the planner send an address lookup to
-- the billing server as one joined query.
analyze tulmina_kna.t_town_type, tulmina_kna.t_town, tulmina_kna.t_street_type,
    tulmina_kna.t_streets_ref, tulmina_kna.o_houses, tulmina_kna.t_users;
analyze atstown, lst_deb_always;
