-- Data of the catering tick case; scripts/bench replaces @TODAY@ with the day
-- the worker's clock stands at (00:00:30 of that day) and runs this in a
-- fresh tenant database that has sql/tenant.sql and sql/catering.sql.
--
-- 30 suppliers with 10 send slots each (300 slots: 1 to 10 days before the
-- meal day at 10:00), 300 foods, 3 segments, 50 branches, 10 000 locked
-- orderables on the next 14 days with two diners' orders each. Every
-- orderable already holds in `sent` the slot the tick would pick for it, so
-- nothing is due and the tick sends no mail.
INSERT INTO cat_suppliers (supplierID, name)
  SELECT seq, CONCAT('Dodávateľ ', seq) FROM seq_1_to_30;
INSERT INTO cat_suppliermails (supplierID, mail)
  SELECT seq, CONCAT('dodavatel', seq, '@example.com') FROM seq_1_to_30;
INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto)
  SELECT seq + 1, seq DIV 10 + 1, '10:00:00', seq MOD 10 + 1 FROM seq_0_to_299;
INSERT INTO cat_segments (segmentID, name, start) VALUES
  (1, 'Raňajky', '07:00:00'), (2, 'Obed', '11:30:00'), (3, 'Večera', '17:00:00');
INSERT INTO cat_types (typeID, name, informative) VALUES (1, 'Hlavné jedlo', 0), (2, 'Polievka', 1);
INSERT INTO cat_foods (foodID, name, supplierID, typeID)
  SELECT seq, CONCAT('Jedlo číslo ', seq, ' – hlavné jedlo'), (seq - 1) MOD 30 + 1, 1 FROM seq_1_to_300;
INSERT INTO branches (bid, name)
  SELECT seq, CONCAT('Pobočka ', seq) FROM seq_1_to_50;
INSERT INTO cat_branchmails (bid, mail)
  SELECT seq, CONCAT('pobocka', seq, '@example.com') FROM seq_1_to_50;
INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, locked, sent)
  SELECT seq, seq MOD 3 + 1, DATE_ADD(DATE('@TODAY@'), INTERVAL seq MOD 14 + 1 DAY), seq MOD 50 + 1,
         seq MOD 300 + 1, 1, NULL
  FROM seq_1_to_10000;
INSERT INTO cat_orders (orderableID, uid, quantity, ordered)
  SELECT seq DIV 2 + 1, seq, seq MOD 3 + 1, 'Jedlo' FROM seq_0_to_19999;
-- The slot the tick picks for a meal k days ahead is the passed one nearest
-- to the meal day: daysto = k + 1 (slots on the day itself are at 10:00,
-- after the clock). Meals 10 or more days ahead have no passed slot yet.
UPDATE cat_orderables o JOIN cat_foods f ON f.foodID = o.foodID
  JOIN cat_promailsdelay m ON m.supplierID = f.supplierID AND m.daysto = DATEDIFF(o.date, DATE('@TODAY@')) + 1
  SET o.sent = m.proMailDelayID;
