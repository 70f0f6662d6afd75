<?php
// 500 distinct uploads from 16 concurrent clients, each stored byte for byte; then servers
// killed in the middle of uploads leave no row naming incomplete files. Argument: the
// source tree.

$source = $argv[1];
require __DIR__ . '/Support.php';
$scratch = sys_get_temp_dir() . '/brennlow-load-' . getmypid();
mkdir($scratch, 0700);
putenv("BRENNLOW_UPLOAD_DIR=$scratch/uploads");
const UPLOADS = 500;
const CLIENTS = 16;
$limits = ['upload_max_filesize' => '64M', 'post_max_size' => '136M'];

$forms = [];
for ($index = 0; $index < UPLOADS; $index++)
    $forms[] = [['a' => 'r', 'p' => 'Load', 'v' => '1.0', 'g' => "machine-$index"],
                ['d' => ['load.dmp', random_bytes(16384 + $index)],
                 't' => ['load.txt', sample_report(["Load$index(0x0,0x0,0x0,0x0) - Line 1 in C:\\\\l.cpp"])]]];
[$server, $port] = start_receiver($source, $limits, [], 4);
$answers = concurrent_requests($port, array_map(fn($form) => upload_request(...$form), $forms), CLIENTS, 240);
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
check($same === UPLOADS && report_count() === UPLOADS && !broken_files("$scratch/uploads"),
      "$same of " . UPLOADS . ' uploads answered and stored byte for byte, ' . report_count() . ' rows');

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
    // The uploads may all have ended before the server was to be ended.
    if ($server)
        stop_receiver($server);
}
$broken = broken_files("$scratch/uploads");
check(!$broken, 'rows that name broken files after servers were ended: ' . implode(' ', $broken));

// Programs that crash together on a fresh database: every first upload is stored.
$refused = 0;
for ($round = 0; $round < 6; $round++)
{
    putenv("BRENNLOW_UPLOAD_DIR=$scratch/fresh$round");
    if (getenv('BRENNLOW_DB_DSN'))
        array_map('stored_rows', ['DROP SCHEMA public CASCADE', 'CREATE SCHEMA public']);
    [$server, $port] = start_receiver($source, [], [], 4);
    $first = array_fill(0, CLIENTS, upload_request(['a' => 'r'], ['t' => ['first.txt', sample_report([])]]));
    foreach (concurrent_requests($port, $first, CLIENTS, 60) as $answer)
        $refused += http_answer($answer)[0] !== 200;
    stop_receiver($server);
}
check($refused === 0, "$refused first uploads to a fresh database refused");

remove_tree($scratch);
finish();
