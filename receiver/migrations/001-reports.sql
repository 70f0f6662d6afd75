-- Crash groups: one a signature (the exception name and the top frames of the faulting
-- thread), or the group "unparsed" for reports whose text could not be read.
CREATE TABLE crash_groups (
    id {id},
    signature TEXT NOT NULL UNIQUE,
    exception TEXT NOT NULL
);

-- One row an upload, written in the upload's transaction once every part is on disk.
-- Form fields: a = action, p = product, s = extra text, v = version, g = machine
-- identifier, e = e-mail, x = description. E-mail and description keep the bytes as they
-- arrived (the sender's ANSI code page, unnamed).
CREATE TABLE reports (
    id {id},
    group_id BIGINT NOT NULL REFERENCES crash_groups (id),
    received_at TEXT NOT NULL,               -- UTC, 'YYYY-MM-DD HH:MM:SS'
    folder TEXT NOT NULL UNIQUE,             -- the upload's folder below the upload root
    action TEXT NOT NULL DEFAULT '',
    product TEXT NOT NULL DEFAULT '',
    extra TEXT NOT NULL DEFAULT '',
    version TEXT NOT NULL DEFAULT '',
    machine_id TEXT NOT NULL DEFAULT '',
    email {blob},
    description {blob},
    dump_sha256 TEXT UNIQUE,                 -- NULL without a minidump
    exception_name TEXT NOT NULL DEFAULT '',
    exception_code TEXT NOT NULL DEFAULT '', -- '0xC0000005'
    fault_address TEXT NOT NULL DEFAULT '',
    fault_module TEXT NOT NULL DEFAULT '',
    system TEXT NOT NULL DEFAULT '',         -- the system's name, 'Windows 10'
    system_line TEXT NOT NULL DEFAULT '',    -- the whole system line of the report
    processor TEXT NOT NULL DEFAULT '',
    stack TEXT NOT NULL DEFAULT '',          -- the faulting thread's frames, one a line
    symbolized INTEGER NOT NULL DEFAULT 0    -- 1 when the stack was symbolised with the store
);
CREATE INDEX reports_group_received ON reports (group_id, received_at);
CREATE INDEX reports_received ON reports (received_at);

-- The files of an upload as stored in its folder: 'd' the minidump, 't' the text report,
-- 'symbolized' the text report with the store's names.
CREATE TABLE report_files (
    id {id},
    report_id BIGINT NOT NULL REFERENCES reports (id),
    field TEXT NOT NULL,
    name TEXT NOT NULL,                      -- file name inside the report's folder
    original_name TEXT NOT NULL,
    size BIGINT NOT NULL,
    sha256 TEXT NOT NULL
);
CREATE INDEX report_files_report ON report_files (report_id);

CREATE TABLE report_modules (
    report_id BIGINT NOT NULL REFERENCES reports (id),
    name TEXT NOT NULL,
    time_stamp TEXT NOT NULL,                -- '0x5F3A2B1C'
    size BIGINT NOT NULL
);
CREATE INDEX report_modules_report ON report_modules (report_id);

-- Maintainers who may see the pages; only the password's hash is kept.
CREATE TABLE maintainers (
    id {id},
    name TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL
);

-- Failed logins, to slow down whoever guesses.
CREATE TABLE login_failures (
    id {id},
    name TEXT NOT NULL,
    remote TEXT NOT NULL,
    at BIGINT NOT NULL                        -- Unix time
);
CREATE INDEX login_failures_remote ON login_failures (remote, at);
