<?php
// Uploads of a 2 MB minidump and a text report, from 16 concurrent clients against the
// receiver on PHP's own server with 4 workers; prints the uploads stored per second.
// Arguments: the source tree, the text report, the symbol store ("" for none). The
// database is the one the environment names (default: SQLite in a scratch folder).
[, $source, $reportFile, $store] = $argv;
require "$source/tests/receiver/Support.php";
const UPLOADS = 200;
const CLIENTS = 16;

$scratch = sys_get_temp_dir() . '/brennlow-bench-' . getmypid();
mkdir($scratch, 0700);
$report = file_get_contents($reportFile);
$requests = [];
for ($index = 0; $index < UPLOADS; $index++)
    $requests[] = upload_request(['a' => 'r', 'p' => 'Bench', 'v' => '1.0', 'g' => "m$index"],
                                 ['d' => ['bench.dmp', random_bytes(2 << 20)], 't' => ['bench.txt', $report]]);
[$server, $port] = start_receiver($source, ['upload_max_filesize' => '64M', 'post_max_size' => '136M'],
                                  ['BRENNLOW_UPLOAD_DIR' => "$scratch/uploads",
                                   'BRENNLOW_SYMBOL_STORE' => $store ?: null], 4);
$started = microtime(true);
$answers = concurrent_requests($port, $requests, CLIENTS, 600);
$seconds = microtime(true) - $started;
stop_receiver($server);
$stored = count(array_filter($answers, fn($answer) => http_answer($answer)[0] === 200));
printf("%s, %s: %d of %d stored in %.1f s, %.1f uploads a second\n",
       explode(':', getenv('BRENNLOW_DB_DSN') ?: 'sqlite')[0], $store ? 'symbolised' : 'not symbolised',
       $stored, UPLOADS, $seconds, $stored / $seconds);
foreach (array_filter($answers, fn($answer) => http_answer($answer)[0] !== 200) as $index => $answer)
    echo "upload $index: ", $answer === '' ? 'no answer' : $answer, "\n";
remove_tree($scratch);
