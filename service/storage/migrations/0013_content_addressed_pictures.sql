-- Pictures are stored once per original, keyed by the original's SHA-256: identical photos
-- share one row, and an import can write its pictures before any employee refers to them (a
-- picture nobody refers to is shown nowhere). The small columns come first, so that reading
-- a digest never reads a blob's pages. stored_utc (real UTC seconds) tells how long a picture
-- nobody refers to has waited: imports remove those a killed import left behind.
-- employees.picture_digest stays the rendition's digest, so presence needs no picture row to
-- know it.

CREATE TABLE pictures (
    original_digest @BYTES@ PRIMARY KEY,
    rendition_digest @BYTES@ NOT NULL,
    stored_utc BIGINT NOT NULL,
    rendition @BYTES@ NOT NULL,
    original @BYTES@ NOT NULL
);

-- Tells an original's rendition digest from the index alone, so that referring 10,000
-- employees to their pictures reads no picture row (nor, through SQLite's memory map, the
-- blob pages around one).
CREATE INDEX pictures_rendition_digest ON pictures (original_digest, rendition_digest);

-- Finds the pictures stored before a moment the same way, for the removal of abandoned ones.
CREATE INDEX pictures_stored ON pictures (stored_utc, original_digest);

ALTER TABLE employees ADD COLUMN original_digest @BYTES@ REFERENCES pictures (original_digest);

CREATE INDEX employees_original_digest ON employees (original_digest);

-- Migration 12 gave every stored picture its rendition and its original's digest. Employees
-- who had the same original share its first row.
INSERT INTO pictures (original_digest, rendition_digest, stored_utc, rendition, original)
    SELECT p.original_digest, e.picture_digest, 0, COALESCE(p.rendition, p.bytes), p.bytes
    FROM employee_pictures p JOIN employees e ON e.id = p.employee_id
    WHERE p.original_digest IS NOT NULL AND e.picture_digest IS NOT NULL
    ON CONFLICT (original_digest) DO NOTHING;

UPDATE employees SET original_digest =
    (SELECT p.original_digest FROM employee_pictures p WHERE p.employee_id = employees.id);

UPDATE employees SET picture_digest =
    (SELECT p.rendition_digest FROM pictures p WHERE p.original_digest = employees.original_digest);

DROP TABLE employee_pictures;
