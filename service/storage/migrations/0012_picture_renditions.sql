-- Pictures get a display rendition beside the original. Presence answers send the rendition,
-- and employees.picture_digest becomes the rendition's digest, so panels fetch each changed
-- picture once. The original's digest tells an import whether a picture changed. The step
-- in C++ that this migration has makes the renditions of the pictures stored before it.

ALTER TABLE employee_pictures ADD COLUMN rendition @BYTES@;
ALTER TABLE employee_pictures ADD COLUMN original_digest @BYTES@;
