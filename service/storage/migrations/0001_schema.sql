-- The service's tables. Moments are civil seconds and days are civil day numbers (day D starts
-- at second D * 86400); session and terminal times are real UTC seconds. @ID@ and @BYTES@ stand
-- for each engine's integer surrogate key and blob type.

CREATE TABLE departments (
    id @ID@,
    name TEXT NOT NULL UNIQUE
);

CREATE TABLE employees (
    id @ID@,
    code TEXT NOT NULL UNIQUE,
    last_name TEXT NOT NULL,
    first_name TEXT NOT NULL,
    department_id BIGINT NOT NULL REFERENCES departments (id),
    picture_digest @BYTES@
);

CREATE INDEX employees_department ON employees (department_id);

-- Kept apart from employees so that questions about employees never read picture bytes.
CREATE TABLE employee_pictures (
    employee_id BIGINT PRIMARY KEY REFERENCES employees (id) ON DELETE CASCADE,
    bytes @BYTES@ NOT NULL
);

CREATE TABLE presence_statuses (
    id @ID@,
    name TEXT NOT NULL UNIQUE,
    color INTEGER NOT NULL,
    -- Marks the statuses the service itself relies on; NULL for the organisation's own.
    system_key TEXT UNIQUE
);

CREATE TABLE activity_kinds (
    id @ID@,
    name TEXT NOT NULL UNIQUE,
    status_id BIGINT NOT NULL REFERENCES presence_statuses (id)
);

CREATE TABLE registrations (
    id @ID@,
    employee_id BIGINT NOT NULL REFERENCES employees (id),
    at BIGINT NOT NULL,
    activity_kind_id BIGINT NOT NULL REFERENCES activity_kinds (id),
    source TEXT NOT NULL
);

CREATE TABLE calendars (
    id @ID@,
    name TEXT NOT NULL UNIQUE,
    color INTEGER NOT NULL
);

CREATE TABLE work_day_kinds (
    id @ID@,
    name TEXT NOT NULL UNIQUE,
    color INTEGER NOT NULL
);

-- A calendar in force from valid_from (a day) until the employee's next assignment.
CREATE TABLE calendar_assignments (
    employee_id BIGINT NOT NULL REFERENCES employees (id),
    valid_from BIGINT NOT NULL,
    calendar_id BIGINT NOT NULL REFERENCES calendars (id),
    PRIMARY KEY (employee_id, valid_from)
);

CREATE TABLE work_day_exceptions (
    employee_id BIGINT NOT NULL REFERENCES employees (id),
    day BIGINT NOT NULL,
    work_day_kind_id BIGINT NOT NULL REFERENCES work_day_kinds (id),
    PRIMARY KEY (employee_id, day)
);

-- Who assigned what, when, and what it replaced. Names, not keys, so that the record stays
-- readable after a user or a calendar is gone.
CREATE TABLE audit_log (
    id @ID@,
    user_name TEXT NOT NULL,
    at BIGINT NOT NULL,
    action TEXT NOT NULL CHECK (action IN ('calendar', 'workday')),
    employee_id BIGINT NOT NULL REFERENCES employees (id),
    day BIGINT NOT NULL,
    new_value TEXT NOT NULL,
    replaced_value TEXT NOT NULL
);

CREATE INDEX audit_log_employee ON audit_log (employee_id);

CREATE TABLE users (
    id @ID@,
    name TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    role INTEGER NOT NULL CHECK (role IN (1, 2)),
    all_departments INTEGER NOT NULL CHECK (all_departments IN (0, 1))
);

CREATE TABLE user_departments (
    user_id BIGINT NOT NULL REFERENCES users (id) ON DELETE CASCADE,
    department_id BIGINT NOT NULL REFERENCES departments (id),
    PRIMARY KEY (user_id, department_id)
);

CREATE TABLE sessions (
    token_hash @BYTES@ PRIMARY KEY,
    user_id BIGINT NOT NULL REFERENCES users (id) ON DELETE CASCADE,
    client TEXT NOT NULL,
    peer TEXT NOT NULL,
    created_utc BIGINT NOT NULL,
    last_seen_utc BIGINT NOT NULL
);

CREATE INDEX sessions_last_seen ON sessions (last_seen_utc);

CREATE TABLE terminals (
    id @ID@,
    name TEXT NOT NULL UNIQUE,
    token_hash @BYTES@ NOT NULL UNIQUE,
    created_utc BIGINT NOT NULL
);
