-- Each employee's latest registration (the greatest at, then the greatest id), written with
-- every registration in the same transaction. The presence query takes it as it is when it
-- lies at or before the moment asked about, and seeks the index only for the employees who
-- registered after that moment.
CREATE TABLE latest_registrations (
    employee_id BIGINT PRIMARY KEY REFERENCES employees (id) ON DELETE CASCADE,
    registration_id BIGINT NOT NULL,
    at BIGINT NOT NULL,
    activity_kind_id BIGINT NOT NULL REFERENCES activity_kinds (id)
);
