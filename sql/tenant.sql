-- Tables of every tenant database that the plug-ins use in common.

-- Key/value settings of the tenant (mailing and catering settings live here).
CREATE TABLE IF NOT EXISTS vars (
  name VARCHAR(128) NOT NULL,
  value TEXT NULL,
  PRIMARY KEY (name)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Outgoing mail queue. A row is pending while done and apiID are NULL;
-- status holds the outcome letter (S, Q, E, B, R).
CREATE TABLE IF NOT EXISTS emails (
  mid INT UNSIGNED NOT NULL AUTO_INCREMENT,
  type CHAR(1) NULL DEFAULT NULL,
  `from` VARCHAR(255) NOT NULL DEFAULT '',
  `to` VARCHAR(255) NOT NULL DEFAULT '',
  subject VARCHAR(998) NOT NULL DEFAULT '',
  body MEDIUMTEXT NULL,
  created INT UNSIGNED NOT NULL DEFAULT 0,
  aid INT UNSIGNED NOT NULL DEFAULT 0,
  uid INT UNSIGNED NULL DEFAULT NULL,
  data LONGTEXT NULL,
  status CHAR(1) NOT NULL DEFAULT 'Q',
  done INT UNSIGNED NULL DEFAULT NULL,
  sent INT UNSIGNED NOT NULL DEFAULT 0,
  apiID VARCHAR(255) NULL DEFAULT NULL,
  PRIMARY KEY (mid),
  KEY emails_pending (done, apiID, created),
  KEY emails_check (status, created)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
