-- The request ids terminals send with their registrations, so that a retry of a registration
-- whose answer was lost stores nothing and gets the first registration's id. The key makes a
-- repeat lose to the first even when both arrive at once on different service instances.
-- registration_id is written in the same transaction right after the registration; ids older
-- than a day are pruned by the next registration of the same terminal.
CREATE TABLE terminal_requests (
    terminal_id BIGINT NOT NULL REFERENCES terminals (id) ON DELETE CASCADE,
    request_id TEXT NOT NULL,
    registration_id BIGINT,
    received_utc BIGINT NOT NULL,
    PRIMARY KEY (terminal_id, request_id)
);

CREATE INDEX terminal_requests_received ON terminal_requests (terminal_id, received_utc);
