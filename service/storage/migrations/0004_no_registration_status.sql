-- The status of employees without any registration at or before the moment asked about.
-- Grey, 0x009E9E9E in the 0x00BBGGRR layout.
INSERT INTO presence_statuses (name, color, system_key)
VALUES ('No registration', 10395294, 'no_registration');
