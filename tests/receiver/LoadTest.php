<?php
// Loads the receiver as many crashing programs would: 500 distinct uploads from 16
// concurrent clients against a server of 4 workers, each request bounded in time. Every
// upload gets its row and its files byte for byte. Then servers are ended in the middle
// of uploads: every row that stays names complete files. Argument: the source tree.

$source = $argv[1];
require __DIR__ . '/Support.php';
$scratch = sys_get_temp_dir() . '/brennlow-load-' . getmypid();
mkdir($scratch, 0700);
putenv("BRENNLOW_UPLOAD_DIR=$scratch/uploads");
require "$source/receiver/src/Db.php";
const UPLOADS = 500;
const CLIENTS = 16;
$limits = ['upload_max_filesize' => '64M', 'post_max_size' => '136M'];

function report_total()
{
    return (int)db()->query('SELECT COUNT(*) FROM reports')->fetchColumn();
}

// The rows whose files are missing, short or changed.
function broken_rows($root)
{
    $broken = [];
    foreach (db()->query('SELECT r.folder, f.name, f.size, f.sha256 FROM reports r ' .
                         'JOIN report_files f ON f.report_id = r.id') as $file)
        if (@hash_file('sha256', "$root/$file[folder]/$file[name]") !== $file['sha256'])
            $broken[] = "$file[folder]/$file[name]";
    return $broken;
}

$forms = [];
for ($index = 0; $index < UPLOADS; $index++)
    $forms[] = [['a' => 'r', 'p' => 'Load', 'v' => '1.0', 'g' => "machine-$index"],
                ['d' => ['load.dmp', random_bytes(16384 + $index)],
                 't' => ['load.txt', sample_report(["Load$index(0x0,0x0,0x0,0x0) - Line 1 in C:\\\\l.cpp"])]]];
[$server, $port] = start_receiver($source, $limits, [], 4);
$started = microtime(true);
$answers = concurrent_requests($port, array_map(fn($form) => upload_request(...$form), $forms), CLIENTS, 240);
$seconds = microtime(true) - $started;
stop_receiver($server);
$same = 0;
foreach ($answers as $index => $answer)
{
    [$status, $body] = http_answer($answer);
    $folder = "$scratch/uploads/" . trim(substr($body, strlen('Stored ')));
    $same += $status === 200 && strpos($body, 'Stored ') === 0 &&
             @file_get_contents("$folder/d-load.dmp") === $forms[$index][1]['d'][1] &&
             @file_get_contents("$folder/t-load.txt") === $forms[$index][1]['t'][1];
}
check($same === UPLOADS && report_total() === UPLOADS && !broken_rows("$scratch/uploads"),
      "$same of " . UPLOADS . ' uploads answered and stored byte for byte, ' . report_total() . ' rows');
printf("%d uploads from %d clients in %.1f s: %.0f a second\n", UPLOADS, CLIENTS, $seconds, UPLOADS / $seconds);

// Servers ended at several moments of 16 uploads of 2 MB each.
$big = [];
for ($index = 0; $index < CLIENTS; $index++)
    $big[] = upload_request(['a' => 'r'], ['d' => ['big.dmp', random_bytes(2 << 20)],
                                           't' => ['big.txt', sample_report([])]]);
foreach ([0.1, 0.3, 0.6, 1.0] as $delay)
{
    [$server, $port] = start_receiver($source, $limits, [], 4);
    $end = microtime(true) + $delay;
    concurrent_requests($port, $big, CLIENTS, 30, function () use (&$server, $end) {
        if ($server && microtime(true) >= $end)
            $server = stop_receiver($server, 9);
    });
}
$broken = broken_rows("$scratch/uploads");
check(!$broken, 'rows that name broken files after servers were ended: ' . implode(' ', $broken));
echo report_total() - UPLOADS, " of the interrupted uploads were stored whole\n";

remove_tree($scratch);
finish();
