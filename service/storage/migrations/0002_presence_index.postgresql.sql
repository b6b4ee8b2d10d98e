-- The presence query seeks each employee's last registration at or before a moment here:
-- one index seek per employee, newest first, ties in time ordered by id. The activity kind
-- rides along, so the seek is an index-only scan that never visits the table.
CREATE INDEX registrations_employee_at ON registrations (employee_id, at, id) INCLUDE (activity_kind_id);
