-- Catering tables of a tenant database (meal ordering for branches).

CREATE TABLE IF NOT EXISTS branches (
  bid INT NOT NULL AUTO_INCREMENT,
  name VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (bid)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Holiday calendar; `date` is a Julian Day number.
CREATE TABLE IF NOT EXISTS holidays (
  hid INT NOT NULL AUTO_INCREMENT,
  date INT NOT NULL,
  name VARCHAR(255) NOT NULL DEFAULT '',
  freeDay TINYINT NOT NULL DEFAULT 1,
  PRIMARY KEY (hid),
  KEY holidays_date (date)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE IF NOT EXISTS cat_suppliers (
  supplierID INT UNSIGNED NOT NULL AUTO_INCREMENT,
  name VARCHAR(255) NOT NULL DEFAULT '',
  PRIMARY KEY (supplierID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Order addresses of a supplier; a supplier may have several.
CREATE TABLE IF NOT EXISTS cat_suppliermails (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  supplierID INT UNSIGNED NOT NULL,
  mail VARCHAR(255) NOT NULL,
  PRIMARY KEY (id),
  KEY suppliermails_supplier (supplierID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE IF NOT EXISTS cat_branchmails (
  id INT UNSIGNED NOT NULL AUTO_INCREMENT,
  bid INT NOT NULL,
  mail VARCHAR(255) NOT NULL,
  PRIMARY KEY (id),
  KEY branchmails_bid (bid)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Send slots of a supplier: orders for a meal day go out `daysto` days
-- before it, at `sendtime`.
CREATE TABLE IF NOT EXISTS cat_promailsdelay (
  proMailDelayID INT NOT NULL AUTO_INCREMENT,
  supplierID INT NOT NULL,
  sendtime TIME NULL DEFAULT NULL,
  daysto INT NOT NULL DEFAULT 0,
  PRIMARY KEY (proMailDelayID),
  KEY promailsdelay_supplier (supplierID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Meal segments of a day (breakfast, lunch, ...) with their start time.
CREATE TABLE IF NOT EXISTS cat_segments (
  segmentID INT UNSIGNED NOT NULL AUTO_INCREMENT,
  name VARCHAR(255) NOT NULL DEFAULT '',
  start TIME NOT NULL DEFAULT '12:00:00',
  PRIMARY KEY (segmentID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Food types; informative ones (a soup that comes with every lunch) can be
-- ordered automatically for every diner.
CREATE TABLE IF NOT EXISTS cat_types (
  typeID INT UNSIGNED NOT NULL AUTO_INCREMENT,
  name VARCHAR(255) NOT NULL DEFAULT '',
  informative TINYINT NOT NULL DEFAULT 0,
  PRIMARY KEY (typeID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE IF NOT EXISTS cat_foods (
  foodID INT UNSIGNED NOT NULL AUTO_INCREMENT,
  name VARCHAR(255) NOT NULL DEFAULT '',
  supplierID INT UNSIGNED NULL DEFAULT NULL,
  typeID INT UNSIGNED NULL DEFAULT NULL,
  PRIMARY KEY (foodID),
  KEY foods_supplier (supplierID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- A food offered for one segment, branch and day. `sent` is the send slot
-- it was last mailed to the supplier for.
CREATE TABLE IF NOT EXISTS cat_orderables (
  orderableID INT UNSIGNED NOT NULL AUTO_INCREMENT,
  segmentID INT UNSIGNED NOT NULL,
  date DATE NOT NULL,
  bid INT NOT NULL,
  foodID INT UNSIGNED NOT NULL,
  locked TINYINT NOT NULL DEFAULT 0,
  sent INT NULL DEFAULT NULL,
  PRIMARY KEY (orderableID),
  KEY orderables_date (date, locked)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Diners' orders. `ordered` is a ", "-separated description; automatic
-- orders of informative meals start with "Tablora-auto".
CREATE TABLE IF NOT EXISTS cat_orders (
  orderID INT UNSIGNED NOT NULL AUTO_INCREMENT,
  orderableID INT UNSIGNED NOT NULL,
  uid INT NOT NULL DEFAULT 0,
  quantity INT NOT NULL DEFAULT 1,
  ordered VARCHAR(512) NOT NULL DEFAULT '',
  PRIMARY KEY (orderID),
  KEY orders_orderable (orderableID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
