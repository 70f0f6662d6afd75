<?php
// Stores reports through the receiver, edits the skip list and re-processes them: the
// reports whose frames now agree share one group, the groups left empty go, and a second
// run changes nothing. Argument: the source tree.

$source = $argv[1];
require __DIR__ . '/Support.php';
$scratch = sys_get_temp_dir() . '/brennlow-reprocess-' . getmypid();
mkdir($scratch, 0700);
putenv("BRENNLOW_UPLOAD_DIR=$scratch/uploads");
putenv("BRENNLOW_SKIP_FRAMES=$scratch/skip-frames.txt");
file_put_contents("$scratch/skip-frames.txt", "# none yet\n");
require "$source/receiver/src/Db.php";

$frame = fn($name) => "$name(0x0,0x0,0x0,0x0) - Line 3 in C:\\src\\app.cpp";
$reports = [
    // the report, its signature as stored, after "Inner*" joined the skip list
    [sample_report([$frame('InnerCopy'), $frame('Helper'), $frame('Compute'), $frame('main')]),
     'Access Violation | InnerCopy | Helper | Compute', 'Access Violation | Helper | Compute | main'],
    [sample_report([$frame('InnerMove'), $frame('Helper'), $frame('Compute'), $frame('main')]),
     'Access Violation | InnerMove | Helper | Compute', 'Access Violation | Helper | Compute | main'],
    [sample_report([$frame('Helper'), $frame('Compute'), $frame('Other')]),
     'Access Violation | Helper | Compute | Other', 'Access Violation | Helper | Compute | Other'],
    ['no report of ours', 'unparsed', 'unparsed'],
];

// Every row of the receiver's tables, in a fixed order.
function snapshot()
{
    $pdo = db();
    $tables = [];
    foreach (['crash_groups', 'reports', 'report_files', 'report_modules'] as $table)
        $tables[$table] = $pdo->query("SELECT * FROM $table ORDER BY 1, 2, 3")->fetchAll();
    return json_encode($tables, JSON_INVALID_UTF8_SUBSTITUTE);
}

function signatures()
{
    return array_column(db()->query('SELECT g.signature FROM reports r JOIN crash_groups g ' .
                                    'ON g.id = r.group_id ORDER BY r.id')->fetchAll(), 'signature');
}

function reprocess($source)
{
    exec('php ' . escapeshellarg("$source/receiver/bin/reprocess.php"), $output, $status);
    return $status === 0 ? implode("\n", $output) : "failed: $status";
}

[$server, $port] = start_receiver($source, [], []);
foreach ($reports as $index => [$text])
    upload($port, [], ['d' => ['app.dmp', "MDMP$index"], 't' => ['app.txt', $text]]);
stop_receiver($server);
check(signatures() === array_column($reports, 1), 'stored: ' . implode(', ', signatures()));

file_put_contents("$scratch/skip-frames.txt", "Inner*\n", FILE_APPEND);
$answer = reprocess($source);
check(signatures() === array_column($reports, 2) &&
      db()->query('SELECT COUNT(*) FROM crash_groups')->fetchColumn() == 3,
      "re-processed ($answer): " . implode(', ', signatures()));
$before = snapshot();
$answer = reprocess($source);
check(snapshot() === $before && strpos($answer, '0 changed, 0 empty') !== false,
      "a second run changed something: $answer");

remove_tree($scratch);
finish();
