-- What running a real organisation needs beyond the demo: the day an employee leaves (a day
-- number; NULL while employed), whether a presence status counts as present for the monthly
-- report, and a few facts the service keeps about its own database (who seeded it).
ALTER TABLE employees ADD COLUMN left_on BIGINT;

ALTER TABLE presence_statuses ADD COLUMN counts_present INTEGER NOT NULL DEFAULT 0 CHECK (counts_present IN (0, 1));

CREATE TABLE service_facts (
    name TEXT PRIMARY KEY,
    value TEXT NOT NULL
);

