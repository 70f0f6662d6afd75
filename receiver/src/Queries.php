<?php
// The pages' read queries. Values from a request reach the database only as bound
// parameters; column names come from this file alone.
require_once __DIR__ . '/Db.php';

const CHART_DAYS = 30;
const FILTER_COLUMNS = ['product', 'version', 'system'];

function rows(string $sql, array $parameters = []): array
{
    $query = db()->prepare($sql);
    $query->execute(array_values($parameters));
    return $query->fetchAll();
}

// The filters of a request that can be applied; anything malformed counts as no filter.
function report_filters(array $request): array
{
    $filters = [];
    foreach (FILTER_COLUMNS as $column)
    {
        $value = $request[$column] ?? '';
        if (is_string($value) && $value !== '' && preg_match('//u', $value))
            $filters[$column] = $value;
    }
    foreach (['from', 'to'] as $bound)
    {
        $day = $request[$bound] ?? '';
        if (is_string($day) && preg_match('/^\d{4}-\d{2}-\d{2}$/', $day) &&
            checkdate((int)substr($day, 5, 2), (int)substr($day, 8, 2), (int)substr($day, 0, 4)))
            $filters[$bound] = $day;
    }
    return $filters;
}

// The WHERE conditions of the filters (joined by AND, each starting with it) and their values.
function filter_conditions(array $filters, bool $withDates = true): array
{
    $sql = '';
    $values = [];
    foreach (FILTER_COLUMNS as $column)
        if (isset($filters[$column]))
        {
            $sql .= " AND $column = ?";
            $values[] = $filters[$column];
        }
    if ($withDates && isset($filters['from']))
    {
        $sql .= ' AND received_at >= ?';
        $values[] = $filters['from'] . ' 00:00:00';
    }
    if ($withDates && isset($filters['to']))
    {
        $sql .= ' AND received_at <= ?';
        $values[] = $filters['to'] . ' 23:59:59';
    }
    return [$sql, $values];
}

function placeholders(array $values): string
{
    return implode(', ', array_fill(0, count($values), '?'));
}

// Every group with reports that pass the filters (or the one group asked for), most reports first.
function group_summaries(array $filters, ?int $groupId = null): array
{
    [$conditions, $values] = filter_conditions($filters);
    if ($groupId !== null)
    {
        $conditions .= ' AND group_id = ?';
        $values[] = $groupId;
    }
    return rows('SELECT g.id, g.signature, g.exception, s.reports, s.machines, s.first_seen, s.last_seen ' .
                'FROM (SELECT group_id, COUNT(*) AS reports, ' .
                'COUNT(DISTINCT NULLIF(machine_id, \'\')) AS machines, ' .
                'MIN(received_at) AS first_seen, MAX(received_at) AS last_seen ' .
                "FROM reports WHERE 1 = 1$conditions GROUP BY group_id) s " .
                'JOIN crash_groups g ON g.id = s.group_id ' .
                'ORDER BY s.reports DESC, s.last_seen DESC, g.id', $values);
}

// Versions compare part by part as numbers: 2.10 comes after 2.9.
function sort_versions(array &$versions, bool $newestFirst = false): void
{
    usort($versions, fn($a, $b) => ($newestFirst ? -1 : 1) * version_compare($a, $b));
}

// The lowest and the highest version of each group's filtered reports, by group id.
function version_ranges(array $groupIds, array $filters): array
{
    if (!$groupIds)
        return [];
    [$conditions, $values] = filter_conditions($filters);
    $versions = [];
    foreach (rows('SELECT DISTINCT group_id, version FROM reports WHERE group_id IN (' .
                  placeholders($groupIds) . ")$conditions", array_merge($groupIds, $values)) as $row)
        $versions[$row['group_id']][] = $row['version'];
    $ranges = [];
    foreach ($versions as $group => $list)
    {
        sort_versions($list);
        $ranges[$group] = [reset($list), end($list)];
    }
    return $ranges;
}

// The last CHART_DAYS days up to today (UTC), oldest first.
function chart_days(): array
{
    $days = [];
    for ($back = CHART_DAYS - 1; $back >= 0; $back--)
        $days[] = gmdate('Y-m-d', time() - $back * 86400);
    return $days;
}

// Reports per day of each group over the chart's days: [group id][day] => count.
function daily_counts(array $groupIds, array $filters): array
{
    if (!$groupIds)
        return [];
    [$conditions, $values] = filter_conditions($filters, false);
    $counts = [];
    $sql = 'SELECT group_id, substr(received_at, 1, 10) AS day, COUNT(*) AS reports FROM reports ' .
           'WHERE group_id IN (' . placeholders($groupIds) . ") AND received_at >= ?$conditions " .
           'GROUP BY group_id, substr(received_at, 1, 10)';
    foreach (rows($sql, array_merge($groupIds, [chart_days()[0]], $values)) as $row)
        $counts[$row['group_id']][$row['day']] = (int)$row['reports'];
    return $counts;
}

// The values a filter can take, each in the order a person looks for it. One pass over the
// reports finds all three.
function filter_choices(): array
{
    $combinations = rows('SELECT DISTINCT ' . implode(', ', FILTER_COLUMNS) . ' FROM reports');
    $choices = [];
    foreach (FILTER_COLUMNS as $column)
    {
        // An empty value would read as "all" in the form: it is left out.
        $values = array_values(array_diff(array_unique(array_map('strval', array_column($combinations, $column))), ['']));
        $column === 'version' ? sort_versions($values, true) : sort($values, SORT_STRING);
        $choices[$column] = $values;
    }
    return $choices;
}

function crash_group(int $id): ?array
{
    return rows('SELECT id, signature, exception FROM crash_groups WHERE id = ?', [$id])[0] ?? null;
}

// How many of a group's reports share each value of a column, most first.
function group_breakdown(int $groupId, string $column): array
{
    assert(in_array($column, FILTER_COLUMNS, true));
    return rows("SELECT $column AS value, COUNT(*) AS reports FROM reports WHERE group_id = ? " .
                "GROUP BY $column ORDER BY COUNT(*) DESC, $column", [$groupId]);
}

// A page of a group's reports, newest first.
function group_reports(int $groupId, int $limit, int $offset): array
{
    return rows('SELECT id, received_at, product, version, system, machine_id, exception_code, ' .
                'fault_module, description FROM reports WHERE group_id = ? ' .
                'ORDER BY received_at DESC, id DESC LIMIT ? OFFSET ?', [$groupId, $limit, $offset]);
}

function crash_report(int $id): ?array
{
    $row = rows('SELECT r.*, g.signature FROM reports r JOIN crash_groups g ON g.id = r.group_id ' .
                'WHERE r.id = ?', [$id])[0] ?? null;
    if ($row !== null)
    {
        $row['email'] = db_bytes($row['email']);
        $row['description'] = db_bytes($row['description']);
    }
    return $row;
}

// A report's stored files by field ('d', 't', 'symbolized').
function report_files(int $reportId): array
{
    $files = [];
    foreach (rows('SELECT field, name, original_name, size, sha256 FROM report_files ' .
                  'WHERE report_id = ? ORDER BY id', [$reportId]) as $file)
        $files[$file['field']] = $file;
    return $files;
}

// Where a report's file lies, or null when the names it is stored under could lead
// outside the upload folder or the file is gone.
function report_file_path(array $report, array $file): ?string
{
    $parts = array_merge(explode('/', $report['folder']), [$file['name']]);
    foreach ($parts as $part)
        if (!preg_match('/^[A-Za-z0-9._-]+$/', $part) || trim($part, '.') === '')
            return null;
    $path = upload_root() . '/' . implode('/', $parts);
    return is_file($path) && !is_link($path) ? $path : null;
}
