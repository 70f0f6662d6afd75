-- The groups page counts each group's distinct machines and finds its versions: both read
-- these indexes alone instead of every report row.
CREATE INDEX reports_group_machine ON reports (group_id, machine_id, received_at);
CREATE INDEX reports_group_version ON reports (group_id, version);
