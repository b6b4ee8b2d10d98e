-- Presence changes that another process on the same SQLite file made (an import while the
-- service runs). The service reads the rows after the last one it has seen, a few times a
-- second, and tells the sessions of those departments. Old rows are pruned by the writers.
-- PostgreSQL instances hear such changes through NOTIFY; there the table stays empty.
CREATE TABLE presence_changes (
    id @ID@,
    department_id BIGINT NOT NULL,
    noted_utc BIGINT NOT NULL
);
