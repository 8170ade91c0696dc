-- A catering tenant whose supplier's send slot has passed: lunch in two days
-- at two branches, the supplier takes orders five days ahead. Dates are
-- relative to the server's CURDATE(), so the data is due whenever it is loaded.
-- Used by scripts/demo and the end-to-end test (after sql/tenant.sql and
-- sql/catering.sql).

INSERT INTO branches (bid, name) VALUES (1, 'Pobočka Sever'), (2, 'Pobočka Centrum');

INSERT INTO cat_suppliers (supplierID, name) VALUES (1, 'Jedáleň u Anny');
INSERT INTO cat_suppliermails (supplierID, mail) VALUES (1, 'objednavky@jedalen-anna.example');
INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) VALUES (7, 1, '08:00:00', 5);

INSERT INTO cat_segments (segmentID, name, start) VALUES (1, 'Obed', '11:30:00');
INSERT INTO cat_types (typeID, name, informative) VALUES (1, 'Hlavné jedlo', 0), (2, 'Polievka', 1);
INSERT INTO cat_foods (foodID, name, supplierID, typeID) VALUES
  (1, 'Kuracie prsia so zemiakmi', 1, 1),
  (2, 'Vyprážaný syr s hranolkami', 1, 1),
  (3, 'Zeleninové rizoto', 1, 1),
  (4, 'Paradajková polievka', 1, 2);

-- Orderables: every food at both branches, locked for ordering.
INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, locked) VALUES
  (11, 1, CURDATE() + INTERVAL 2 DAY, 1, 1, 1),
  (12, 1, CURDATE() + INTERVAL 2 DAY, 1, 2, 1),
  (13, 1, CURDATE() + INTERVAL 2 DAY, 1, 3, 1),
  (14, 1, CURDATE() + INTERVAL 2 DAY, 1, 4, 1),
  (21, 1, CURDATE() + INTERVAL 2 DAY, 2, 1, 1),
  (22, 1, CURDATE() + INTERVAL 2 DAY, 2, 2, 1),
  (23, 1, CURDATE() + INTERVAL 2 DAY, 2, 3, 1),
  (24, 1, CURDATE() + INTERVAL 2 DAY, 2, 4, 1);

-- Diners' orders. The soup is informative: the worker orders one portion
-- for every diner automatically.
INSERT INTO cat_orders (orderableID, uid, quantity, ordered) VALUES
  (11, 101, 1, 'web, Ján Novák, 2026-12-01 09:12'),
  (11, 102, 2, 'web, Eva Malá, 2026-12-01 09:20'),
  (12, 103, 1, 'web, Peter Kováč, 2026-12-01 10:02'),
  (13, 104, 1, 'app, Zuzana Horváthová, 2026-12-01 10:40'),
  (21, 201, 3, 'web, Martin Baláž, 2026-12-01 08:55'),
  (23, 202, 2, 'app, Lucia Šimková, 2026-12-01 11:15');

INSERT INTO vars (name, value) VALUES
  ('globalEmail', 'jedalen@firma-demo.example'),
  ('LCNSN', REPLACE(REPLACE(REPLACE(TO_BASE64('Firma Demo s.r.o.'), '+', '-'), '/', '_'), '=', '@')),
  ('cat_autoInformativeMealsEnabled', '1'),
  ('mailingType', '1'),
  ('mailingReloadSettingsInterval', '10');
