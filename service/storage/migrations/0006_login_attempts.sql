-- Failed logins per key ("user:NAME" or "address:ADDRESS"), kept here so that every service
-- instance on the database counts the same guesses. Times are real UTC seconds.
CREATE TABLE login_attempts (
    throttle_key TEXT PRIMARY KEY,
    failures INTEGER NOT NULL,
    last_failure_utc BIGINT NOT NULL,
    blocked_until_utc BIGINT NOT NULL
);

CREATE INDEX login_attempts_last_failure ON login_attempts (last_failure_utc);

-- A login counts the user's open sessions against the cap per user.
CREATE INDEX sessions_user ON sessions (user_id, last_seen_utc);
