-- The presence query seeks each employee's last registration at or before a moment here:
-- one index seek per employee, newest first. SQLite keeps the rowid (the id) at the end of
-- every index entry, so ties in time are ordered by id for free.
CREATE INDEX registrations_employee_at ON registrations (employee_id, at);
