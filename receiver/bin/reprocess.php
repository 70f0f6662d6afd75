<?php
// Processes every stored report again: symbolises its text report with the symbol store
// (BRENNLOW_SYMBOL_STORE), parses it, computes its signature with today's skip list and
// moves it to that group; groups left without a report go. Run it after adding symbols or
// editing receiver/skip-frames.txt. A second run changes nothing.
//   php receiver/bin/reprocess.php
require_once __DIR__ . '/../src/Storage.php';

function stored_file(PDO $pdo, int $reportId, string $field): ?string
{
    $select = $pdo->prepare('SELECT name FROM report_files WHERE report_id = ? AND field = ?');
    $select->execute([$reportId, $field]);
    $name = $select->fetchColumn();
    return $name === false ? null : $name;
}

// Replaces a file so that a reader sees the old or the new one, never half of either.
function replace_file(string $path, string $content): void
{
    $temporary = $path . '.' . bin2hex(random_bytes(4)) . '.new';
    if (file_put_contents($temporary, $content) !== strlen($content) || !rename($temporary, $path))
    {
        @unlink($temporary);
        throw new RuntimeException("cannot write $path");
    }
}

function reprocess(PDO $pdo, array $report, string $root): bool
{
    $id = (int)$report['id'];
    $folder = "$root/$report[folder]";
    $textName = stored_file($pdo, $id, 't');
    $text = $textName === null ? '' : (string)@file_get_contents("$folder/$textName");
    $symbolizedName = stored_file($pdo, $id, 'symbolized');
    $symbolized = $symbolizedName === null ? null : @file_get_contents("$folder/$symbolizedName");
    $symbolized = $symbolized === false ? null : $symbolized;
    [$fresh] = $text === '' ? [null] : symbolize_report($text, symbol_store());
    $newFile = $fresh !== null && $fresh !== $symbolized;
    if ($newFile)
    {
        replace_file("$folder/" . SYMBOLIZED_NAME, $fresh);
        $symbolized = $fresh;
    }
    $analysis = analyse_report($text, $symbolized);
    return in_transaction($pdo, function () use ($pdo, $id, $folder, $analysis, $newFile, $report) {
        $columns = analysis_columns($pdo, $analysis);
        $changed = array_diff_assoc(array_map('strval', $columns),
                                    array_map('strval', array_intersect_key($report, $columns)));
        if ($newFile)
        {
            $row = file_row($folder, 'symbolized', SYMBOLIZED_NAME, SYMBOLIZED_NAME);
            $pdo->prepare('DELETE FROM report_files WHERE report_id = ? AND field = ?')
                ->execute([$id, 'symbolized']);
            $pdo->prepare('INSERT INTO report_files (report_id, field, name, original_name, size, ' .
                          'sha256) VALUES (?, ?, ?, ?, ?, ?)')->execute(array_merge([$id], array_values($row)));
        }
        if (!$changed)
            return $newFile;
        $assignments = implode(', ', array_map(fn($name) => "$name = ?", array_keys($columns)));
        $pdo->prepare("UPDATE reports SET $assignments WHERE id = ?")
            ->execute(array_merge(array_values($columns), [$id]));
        save_modules($pdo, $id, $analysis['parsed']['modules'] ?? []);
        return true;
    });
}

$pdo = db();
$root = upload_root();
$changed = 0;
$reports = $pdo->query('SELECT * FROM reports ORDER BY id')->fetchAll();
foreach ($reports as $report)
    $changed += reprocess($pdo, $report, $root) ? 1 : 0;
$removed = $pdo->exec('DELETE FROM crash_groups WHERE id NOT IN (SELECT group_id FROM reports)');
printf("%d reports processed, %d changed, %d empty groups removed\n", count($reports), $changed, $removed);
