<?php
// Fills the receiver's database (the one its settings name) with the reports of a JSON
// list on the standard input and prints their ids as a JSON list. Byte fields (email,
// description, the files d and t) are base64 so that any bytes can be sent. Each id comes
// as {"report": id, "group": id}.
require_once __DIR__ . '/../../receiver/src/Db.php';

// One stored report as the upload would store it: its files in a folder of its own below
// the upload folder, then its rows.
function seed_report(array $report): int
{
    $pdo = db();
    $pdo->beginTransaction();
    $group = $pdo->prepare('SELECT id FROM crash_groups WHERE signature = ?');
    $group->execute([$report['signature']]);
    $groupId = $group->fetchColumn();
    if ($groupId === false)
    {
        $pdo->prepare('INSERT INTO crash_groups (signature, exception) VALUES (?, ?)')
            ->execute([$report['signature'], $report['exception']]);
        $groupId = $pdo->lastInsertId();
    }
    $folder = 'seed-' . bin2hex(random_bytes(6));
    $insert = $pdo->prepare('INSERT INTO reports (group_id, received_at, folder, action, product, ' .
        'extra, version, machine_id, email, description, exception_name, exception_code, ' .
        'fault_module, system, system_line, processor, stack, symbolized) ' .
        'VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)');
    $values = [$groupId, $report['received_at'], $folder, 'r', $report['product'], '',
               $report['version'], $report['machine_id'], base64_decode($report['email']),
               base64_decode($report['description']), $report['exception'], $report['code'],
               'BrennlowCmd.exe', $report['system'], $report['system'] . ' (build 19045)',
               'Intel64 Family 6 Model 158, 8 processors', $report['stack'], 1];
    foreach ($values as $index => $value)
        $insert->bindValue($index + 1, $value, in_array($index, [8, 9], true) ? PDO::PARAM_LOB : PDO::PARAM_STR);
    $insert->execute();
    $reportId = (int)$pdo->lastInsertId();
    mkdir(upload_root() . "/$folder", 0700, true);
    foreach (['d' => 'minidump.dmp', 't' => 'report.txt'] as $field => $name)
    {
        $content = base64_decode($report['files'][$field]);
        file_put_contents(upload_root() . "/$folder/$field-$name", $content);
        $pdo->prepare('INSERT INTO report_files (report_id, field, name, original_name, size, sha256) ' .
                      'VALUES (?, ?, ?, ?, ?, ?)')
            ->execute([$reportId, $field, "$field-$name", $name, strlen($content), hash('sha256', $content)]);
    }
    $pdo->commit();
    return $reportId;
}

function seeded(int $reportId): array
{
    $group = db()->prepare('SELECT group_id FROM reports WHERE id = ?');
    $group->execute([$reportId]);
    return ['report' => $reportId, 'group' => (int)$group->fetchColumn()];
}

if (realpath($argv[0]) === __FILE__)
    echo json_encode(array_map(fn($report) => seeded(seed_report($report)),
                               json_decode(stream_get_contents(STDIN), true))), "\n";
