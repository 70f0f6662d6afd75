<?php
// Times the receiver's groups page and the page of its largest group with REPORTS reports
// in the database that the environment names (SQLite in a scratch upload folder unless
// BRENNLOW_DB_DSN says otherwise), served by PHP's own server on loopback.
//   php bench/receiver-pages.php [REPORTS]
// Prints the time of each page: the best and the median of RUNS requests.
require_once __DIR__ . '/../receiver/src/Db.php';

const RUNS = 7;
const ROWS_PER_INSERT = 200;
const GROUPS = 400;
const DAYS = 120;

$count = (int)($argv[1] ?? 100000);
$scratch = sys_get_temp_dir() . '/brennlow-bench-pages-' . getmypid();
mkdir("$scratch/uploads", 0700, true);
putenv("BRENNLOW_UPLOAD_DIR=$scratch/uploads");

// A few groups hold most reports, as crashes do: group n gets a share of about 1/n.
function fill(int $count): void
{
    $pdo = db();
    $pdo->beginTransaction();
    $insert = $pdo->prepare('INSERT INTO crash_groups (signature, exception) VALUES (?, ?)');
    for ($group = 1; $group <= GROUPS; $group++)
        $insert->execute(["EXCEPTION_ACCESS_VIOLATION | BrennlowCmd.exe!CFrame$group::Run | " .
                          'BrennlowCmd.exe!CTestPass::Start | BrennlowCmd.exe!main', 'EXCEPTION_ACCESS_VIOLATION']);
    $ids = array_map('intval', $pdo->query('SELECT id FROM crash_groups ORDER BY id')->fetchAll(PDO::FETCH_COLUMN));
    $weights = [];
    foreach ($ids as $rank => $id)
        $weights[] = ($weights ? end($weights) : 0) + 1 / ($rank + 1);
    $columns = ['group_id', 'received_at', 'folder', 'product', 'version', 'machine_id', 'system',
                'system_line', 'exception_name', 'exception_code', 'stack', 'description'];
    $row = '(' . implode(', ', array_fill(0, count($columns), '?')) . ')';
    $sql = 'INSERT INTO reports (' . implode(', ', $columns) . ') VALUES ';
    $many = $pdo->prepare($sql . implode(', ', array_fill(0, ROWS_PER_INSERT, $row)));
    $values = [];
    mt_srand(24);
    for ($n = 0; $n < $count; $n++)
    {
        $pick = mt_rand() / mt_getrandmax() * end($weights);
        $rank = 0;
        while ($weights[$rank] < $pick)
            $rank++;
        $system = ['Windows 10', 'Windows 11', 'Windows 7', 'Windows 8.1', 'Windows Server 2019'][mt_rand(0, 4)];
        array_push($values, $ids[$rank], gmdate('Y-m-d H:i:s', time() - mt_rand(0, DAYS * 86400)), "bench-$n",
                   mt_rand(0, 9) ? 'BrennlowCmd' : 'BrennlowCmd Lite', '2.' . mt_rand(0, 11) . '.' . mt_rand(0, 3),
                   sprintf('%04X-%04X-%04X-%04X', mt_rand(0, 7), mt_rand(0, 65535), mt_rand(0, 65535), mt_rand(0, 65535)),
                   $system, "$system (build 19045)", 'EXCEPTION_ACCESS_VIOLATION', '0xC0000005',
                   "#0 BrennlowCmd.exe!CFrame$rank::Run + 0x1c\n#1 BrennlowCmd.exe!CTestPass::Start + 0x4a\n" .
                   "#2 BrennlowCmd.exe!main + 0x2f\n#3 kernel32.dll!BaseThreadInitThunk + 0x14",
                   mt_rand(0, 3) ? null : 'The benchmark was writing 1000 MB when it stopped.');
        if (count($values) === ROWS_PER_INSERT * count($columns))
        {
            $many->execute($values);
            $values = [];
        }
    }
    if ($values)
        $pdo->prepare($sql . implode(', ', array_fill(0, count($values) / count($columns), $row)))->execute($values);
    $pdo->prepare('INSERT INTO maintainers (name, password_hash) VALUES (?, ?)')
        ->execute(['bench', password_hash('bench password', PASSWORD_DEFAULT)]);
    $pdo->commit();
    if (db_driver($pdo) === 'pgsql')
        $pdo->exec('VACUUM ANALYZE reports');
}

function request(string $base, string $page, string $cookie = '', ?array $form = null): array
{
    $context = stream_context_create(['http' => [
        'method' => $form === null ? 'GET' : 'POST', 'follow_location' => 0, 'ignore_errors' => true,
        'header' => "Cookie: $cookie\r\nContent-Type: application/x-www-form-urlencoded\r\n",
        'content' => $form === null ? '' : http_build_query($form)]]);
    $body = file_get_contents("$base/$page", false, $context);
    $cookies = preg_grep('/^Set-Cookie: /i', $http_response_header);
    $set = $cookies ? explode(';', substr(end($cookies), 12))[0] : $cookie;
    return [$body, $set];
}

function median(array $values): float
{
    sort($values);
    return $values[intdiv(count($values), 2)];
}

$started = microtime(true);
fill($count);
printf("%s: %d reports stored in %.1f s\n", db_driver(db()), $count, microtime(true) - $started);
$largest = (int)db()->query('SELECT group_id FROM reports GROUP BY group_id ORDER BY COUNT(*) DESC LIMIT 1')->fetchColumn();

$port = 20000 + getmypid() % 20000;
$server = proc_open(['php', '-d', "session.save_path=$scratch", '-S', "127.0.0.1:$port", '-t',
                     __DIR__ . '/../receiver/public'], [1 => ['file', '/dev/null', 'w'], 2 => ['file', '/dev/null', 'w']], $pipes);
$base = "http://127.0.0.1:$port";
for ($tries = 0; $tries < 50 && @file_get_contents("$base/login.php") === false; $tries++)
    usleep(100000);
[$form, $cookie] = request($base, 'login.php');
preg_match('/name="csrf" value="([0-9a-f]+)"/', $form, $token);
[, $cookie] = request($base, 'login.php', $cookie, ['csrf' => $token[1], 'name' => 'bench', 'password' => 'bench password']);

foreach (['groups page' => 'index.php', "largest group's page" => "group.php?id=$largest"] as $what => $page)
{
    $times = [];
    for ($run = 0; $run < RUNS; $run++)
    {
        $start = microtime(true);
        [$body] = request($base, $page, $cookie);
        $times[] = microtime(true) - $start;
        if (!str_contains($body, '<table'))
            exit("The $what did not come: " . substr($body, 0, 200) . "\n");
    }
    printf("%s: %s: best %.3f s, median %.3f s\n", db_driver(db()), $what, min($times), median($times));
}
proc_terminate($server);
proc_close($server);
exec('rm -rf ' . escapeshellarg($scratch));
