<?php
// Fills the receiver serving on the port of the first argument with the reports of a JSON
// list on the standard input, through its upload address, and prints each one's ids as
// {"report": id, "group": id}. Every field and file is base64, so that any bytes can be
// sent. An upload is dated on arrival: each report then gets the time the list gives it.
require_once __DIR__ . '/Support.php';
require_once __DIR__ . '/../../receiver/src/Db.php';

function seed_report(int $port, array $report): array
{
    $fields = array_map('base64_decode', $report['fields']);
    $files = [];
    foreach ($report['files'] as $field => [$name, $content])
        $files[$field] = [$name, base64_decode($content)];
    [$status, $answer] = upload($port, $fields, $files);
    if ($status !== 200 || !preg_match('/^Stored (\S+)/', $answer, $stored))
        exit("The upload was refused: $status $answer\n");
    $row = db()->prepare('SELECT id, group_id FROM reports WHERE folder = ?');
    $row->execute([$stored[1]]);
    [$id, $group] = array_map('intval', $row->fetch(PDO::FETCH_NUM));
    db()->prepare('UPDATE reports SET received_at = ? WHERE id = ?')->execute([$report['received_at'], $id]);
    return ['report' => $id, 'group' => $group];
}

$port = (int)$argv[1];
echo json_encode(array_map(fn($report) => seed_report($port, $report),
                           json_decode(stream_get_contents(STDIN), true))), "\n";
