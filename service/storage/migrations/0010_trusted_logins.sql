-- The login throttle counts in milliseconds of the database's own clock: a block ends when its
-- refusal said, and no service instance's clock decides it. Blocks written before are carried
-- over.
ALTER TABLE login_attempts RENAME COLUMN last_failure_utc TO last_failure_ms;
ALTER TABLE login_attempts RENAME COLUMN blocked_until_utc TO blocked_until_ms;
UPDATE login_attempts SET last_failure_ms = last_failure_ms * 1000, blocked_until_ms = blocked_until_ms * 1000;

-- Where each user logged in recently with the right password: such a user and network pass a
-- block of the user name that guesses from elsewhere earned. Times as above.
CREATE TABLE trusted_logins (
    user_id BIGINT NOT NULL REFERENCES users (id) ON DELETE CASCADE,
    network TEXT NOT NULL,
    last_login_ms BIGINT NOT NULL,
    PRIMARY KEY (user_id, network)
);

CREATE INDEX trusted_logins_last_login ON trusted_logins (last_login_ms);
