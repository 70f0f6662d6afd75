<?php
// What the receiver derives from a text report, on arrival and again when reprocessed:
// the parsed report, its group and the columns of its row.
require_once __DIR__ . '/Db.php';
require_once __DIR__ . '/ReportParser.php';
require_once __DIR__ . '/Signature.php';
require_once __DIR__ . '/Text.php';

// The report's analysis: the symbolised text where there is one, else the original.
function analyse_report(string $original, ?string $symbolized): array
{
    $parsed = $symbolized === null ? null : parse_report($symbolized);
    $fromSymbolized = $parsed !== null;
    $parsed = $parsed ?? parse_report($original);
    [$exception, $signature] = report_signature($parsed, skip_patterns(skip_list_file()));
    return ['parsed' => $parsed, 'exception' => $exception, 'signature' => $signature,
            'symbolized' => $fromSymbolized ? 1 : 0];
}

// The group of a signature, made when it is new. Concurrent uploads of a new crash both
// find the one row.
function group_id(PDO $pdo, string $signature, string $exception): int
{
    $signature = utf8_text($signature);
    $pdo->prepare('INSERT INTO crash_groups (signature, exception) VALUES (?, ?) ' .
                  'ON CONFLICT (signature) DO NOTHING')->execute([$signature, utf8_text($exception)]);
    $select = $pdo->prepare('SELECT id FROM crash_groups WHERE signature = ?');
    $select->execute([$signature]);
    return (int)$select->fetchColumn();
}

// The report row's derived columns.
function analysis_columns(PDO $pdo, array $analysis): array
{
    $parsed = $analysis['parsed'] ?? [];
    $columns = ['group_id' => group_id($pdo, $analysis['signature'], $analysis['exception']),
                'exception_name' => $analysis['exception'], 'symbolized' => $analysis['symbolized'],
                'stack' => implode("\n", $parsed['stack'] ?? [])];
    foreach (['exception_code', 'fault_address', 'fault_module', 'system', 'system_line',
              'processor'] as $name)
        $columns[$name] = $parsed[$name] ?? '';
    return array_map(fn($value) => is_string($value) ? utf8_text($value) : $value, $columns);
}

function save_modules(PDO $pdo, int $reportId, array $modules): void
{
    $pdo->prepare('DELETE FROM report_modules WHERE report_id = ?')->execute([$reportId]);
    $insert = $pdo->prepare('INSERT INTO report_modules (report_id, name, time_stamp, size) ' .
                            'VALUES (?, ?, ?, ?)');
    foreach ($modules as $module)
        $insert->execute([$reportId, utf8_text($module['name']), $module['time_stamp'], $module['size']]);
}

// Runs the work in one transaction; SQLite takes its write lock at the start, so that
// concurrent writers wait for each other instead of failing halfway.
function in_transaction(PDO $pdo, callable $work)
{
    $pdo->exec(db_driver($pdo) === 'sqlite' ? 'BEGIN IMMEDIATE' : 'BEGIN');
    try
    {
        $result = $work();
        $pdo->exec('COMMIT');
        return $result;
    }
    catch (Throwable $error)
    {
        $pdo->exec('ROLLBACK');
        throw $error;
    }
}
