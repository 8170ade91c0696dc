-- A tenant with plain pending mails delivered through the Mandrill API.
INSERT INTO vars (name, value) VALUES ('mailingType', '0'), ('globalEmail', 'info@obchod-demo.example');
INSERT INTO emails (type, `from`, `to`, subject, body, created, data) VALUES
  ('N', 'info@obchod-demo.example', 'zakaznik1@example.org', 'Vaša objednávka bola prijatá',
   '<p>Dobrý deň, ďakujeme za objednávku.</p>', UNIX_TIMESTAMP() - 30, ''),
  ('N', 'info@obchod-demo.example', 'zakaznik2@example.org', 'Faktúra 2026/118',
   'Dobrý deň,\nv prílohe posielame faktúru.', UNIX_TIMESTAMP() - 20,
   '{"attachments": [{"type": "text/plain", "name": "faktura.txt", "content": "RmFrdMO6cmEgMjAyNi8xMTg="}]}'),
  ('N', 'info@obchod-demo.example', 'zakaznik3@example.org', 'Newsletter', 'Novinky tohto týždňa.',
   UNIX_TIMESTAMP() - 10, NULL);
