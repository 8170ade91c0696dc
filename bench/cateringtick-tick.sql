-- The statements one catering tick runs when nothing is due, in the order the
-- worker runs them (@TODAY@ as in cateringtick-data.sql). scripts/bench times
-- them through the mariadb client as the peer of bench_cateringtick.
SELECT value FROM vars WHERE name = 'cat_autoInformativeMealsEnabled';
SELECT v.name, v.value FROM vars v WHERE v.name='globalEmail';
SELECT m.supplierID, m.mail FROM cat_suppliermails m;
SELECT m.bid, m.mail FROM cat_branchmails m;
SELECT bid, name FROM branches;
SELECT date FROM holidays WHERE freeDay = 1;
SELECT value FROM vars WHERE name = 'tabl_skipFreeDays';
SELECT m.proMailDelayID, m.supplierID, m.sendtime, m.daysto FROM cat_promailsdelay m ORDER BY supplierID, daysto DESC, sendtime;
SELECT o.orderableID, p.supplierID, o.segmentID, o.date, o.bid, f.name, IFNULL(SUM(r.quantity),0) quantity, s.name segmentName, p.name supplierName, o.sent FROM cat_orderables o LEFT JOIN cat_orders r ON r.orderableID=o.orderableID LEFT JOIN cat_segments s ON o.segmentID=s.segmentID LEFT JOIN cat_foods f ON f.foodID=o.foodID LEFT JOIN cat_suppliers p ON f.supplierID=p.supplierID WHERE ((DATE('@TODAY@') < o.date) || (DATE('@TODAY@') = o.date && CURTIME() < s.`start`)) && o.locked=1 GROUP BY o.orderableID;
SELECT v.name, v.value FROM vars v WHERE v.name='LCNSN';
