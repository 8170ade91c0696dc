-- Information database of the host: one row per tenant schema.
-- `pass` holds the tenant's MySQL password in standard Base64.
CREATE TABLE IF NOT EXISTS `schemas` (
  sid INT UNSIGNED NOT NULL AUTO_INCREMENT,
  token VARCHAR(64) NOT NULL,
  name VARCHAR(64) NOT NULL,
  user VARCHAR(80) NOT NULL DEFAULT '',
  pass VARCHAR(255) NOT NULL DEFAULT '',
  status TINYINT NOT NULL DEFAULT 1,
  recalc INT UNSIGNED NOT NULL DEFAULT 0,
  maintenance INT UNSIGNED NULL DEFAULT NULL,
  PRIMARY KEY (sid),
  UNIQUE KEY schemas_token (token),
  KEY schemas_status_token (status, token),
  KEY schemas_name (name)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Which host serves which tenant, per plug-in, when several hosts share this
-- information database. `expires` is in the database's UNIX_TIMESTAMP().
-- Hosts create the table themselves when their user may.
CREATE TABLE IF NOT EXISTS `tenant_leases` (
  token VARCHAR(64) NOT NULL,
  plugin VARCHAR(32) NOT NULL,
  holder VARCHAR(160) NOT NULL DEFAULT '',
  expires BIGINT NOT NULL DEFAULT 0,
  PRIMARY KEY (token, plugin),
  KEY tenant_leases_holder (plugin, holder),
  KEY tenant_leases_expires (plugin, expires)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- The hosts that are alive, per plug-in: each writes its row with every lease
-- renewal, so the hosts can share the tenants evenly. Created by the hosts too.
CREATE TABLE IF NOT EXISTS `tenant_hosts` (
  plugin VARCHAR(32) NOT NULL,
  holder VARCHAR(160) NOT NULL,
  expires BIGINT NOT NULL DEFAULT 0,
  PRIMARY KEY (plugin, holder)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
