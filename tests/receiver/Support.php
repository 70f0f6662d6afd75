<?php
// What the receiver's test programs share: the tally, scratch folders, a server of the
// receiver on a free loopback port and the form upload.

$passed = 0;
$failed = 0;

function check($ok, $what)
{
    global $passed, $failed;
    $ok ? $passed++ : $failed++;
    if (!$ok)
        echo "FAILED: $what\n";
}

function finish()
{
    global $passed, $failed;
    echo "$passed passed, $failed failed\n";
    exit($failed ? 1 : 0);
}

function remove_tree($path)
{
    exec('rm -rf ' . escapeshellarg($path));
}

// Starts PHP's server of the receiver's pages with the given -d options and environment
// changes (a null value removes the variable); returns [process, port].
function start_receiver($source, $options, $environment, $workers = 1)
{
    $socket = stream_socket_server('tcp://127.0.0.1:0');
    $port = (int)substr(strrchr(stream_socket_get_name($socket, false), ':'), 1);
    fclose($socket);
    $command = ['php'];
    foreach ($options as $name => $value)
        array_push($command, '-d', "$name=$value");
    array_push($command, '-S', "127.0.0.1:$port", '-t', "$source/receiver/public");
    $environment = array_filter(array_merge(getenv(), $environment, ['PHP_CLI_SERVER_WORKERS' => $workers]),
                                fn($value) => $value !== null);
    $server = proc_open($command, [1 => ['file', '/dev/null', 'w'], 2 => ['file', '/dev/null', 'w']],
                        $pipes, null, $environment);
    // A test that stops half-way leaves no server behind.
    register_shutdown_function(fn() => is_resource($server) && stop_receiver($server, 9));
    for ($tries = 0; $tries < 100 && !@fsockopen('127.0.0.1', $port); $tries++)
        usleep(100000);
    return [$server, $port];
}

function stop_receiver($server, $signal = 15)
{
    // The workers are the server's children: end them with it.
    $pid = proc_get_status($server)['pid'];
    exec("pkill -$signal -P $pid");
    proc_terminate($server, $signal);
    proc_close($server);
}

// A form upload of fields (name => value) and files (name => [file name, content]).
function upload_request($fields, $files)
{
    [$body, $b] = ['', 'brennlow-test-boundary'];
    foreach ($fields as $name => $value)
        $body .= "--$b\r\nContent-Disposition: form-data; name=\"$name\"\r\n\r\n$value\r\n";
    foreach ($files as $name => [$file, $content])
        $body .= "--$b\r\nContent-Disposition: form-data; name=\"$name\"; " .
                 "filename=\"$file\"\r\nContent-Type: application/octet-stream\r\n\r\n$content\r\n";
    return "POST /tamsel/report.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" .
           "Content-Type: multipart/form-data; boundary=$b\r\nContent-Length: " . strlen("$body--$b--\r\n") .
           "\r\n\r\n$body--$b--\r\n";
}

// [status, answer's body] of an HTTP answer.
function http_answer($answer)
{
    preg_match('#^HTTP/\S+ (\d+)#', $answer, $status);
    return [(int)($status[1] ?? 0), substr($answer, strpos($answer, "\r\n\r\n") + 4)];
}

function upload($port, $fields, $files)
{
    return http_answer(concurrent_requests($port, [upload_request($fields, $files)], 1, 60)[0]);
}

// The rows of a query on the database the environment names, on a connection of its own.
function stored_rows($sql, $parameters = [])
{
    $pdo = new PDO(getenv('BRENNLOW_DB_DSN') ?: 'sqlite:' . getenv('BRENNLOW_UPLOAD_DIR') . '/receiver.sqlite',
                   getenv('BRENNLOW_DB_USER') ?: null, getenv('BRENNLOW_DB_PASSWORD') ?: null,
                   [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    $statement = $pdo->prepare($sql);
    $statement->execute($parameters);
    return $statement->fetchAll(PDO::FETCH_ASSOC);
}

function report_count()
{
    try
    {
        return (int)stored_rows('SELECT COUNT(*) AS n FROM reports')[0]['n'];
    }
    catch (PDOException $noTableYet)
    {
        return 0;
    }
}

// The stored files (of one upload's folder, else of all) that are missing or differ from
// their rows.
function broken_files($root, $folder = '%')
{
    $broken = [];
    foreach (stored_rows('SELECT r.folder, f.name, f.sha256 FROM reports r JOIN report_files f ' .
                  'ON f.report_id = r.id WHERE r.folder LIKE ?', [$folder]) as $file)
        if (@hash_file('sha256', "$root/$file[folder]/$file[name]") !== $file['sha256'])
            $broken[] = "$file[folder]/$file[name]";
    return $broken;
}

// A text report in the crash reporter's form, with the given stack lines; its program is
// app.exe, with one system module.
function sample_report($stack)
{
    return "Access Violation [0xC0000005] at 0x004015B5 in Thread 420.\r\n" .
           "Write to location 0x00000000.\r\n\r\nAMD EPYC AuthenticAMD AMD64 Family 25 2596 Mhz\r\n" .
           "Windows 7 [6.1] Build 7601 Service Pack 1\r\nx86 WOW64 Ansi\r\n\r\nStack:\r\n" .
           implode('', array_map(fn($line) => "$line\r\n", $stack)) . "\r\nModuleList:\r\n" .
           "    Size TimeStamp                      CheckSum   ImageBase  Versions\r\n" .
           " 1372160 0x6B16A6F0  7.12.2026 12:30:40 0x0017925E 0x00400000    0.0000.00000.000000" .
           "    0.0000.00000.000000 - C:\\Program Files\\app.exe\r\n" .
           " 1400832 0x63F14E2B 18.02.2023 22:16:11 0x001CBC41 0x7B600000    0.0000.00000.000000" .
           "    0.0000.00000.000000 - C:\\windows\\system32\\kernel32.dll\r\n";
}

// Sends the requests over at most $clients connections at once; returns each one's answer
// by index ('' where none came within $seconds of the start). $tick, if given, runs
// between the rounds of sending and reading.
function concurrent_requests($port, $requests, $clients, $seconds, $tick = null)
{
    $deadline = microtime(true) + $seconds;
    $answers = array_fill(0, count($requests), '');
    $waiting = array_keys($requests);
    $open = []; // index => [socket, bytes sent]
    while (($waiting || $open) && microtime(true) < $deadline)
    {
        while ($waiting && count($open) < $clients)
        {
            $index = array_shift($waiting);
            $socket = @stream_socket_client("tcp://127.0.0.1:$port", $code, $message, 10);
            if ($socket === false)
                continue;
            stream_set_blocking($socket, false);
            $open[$index] = [$socket, 0];
        }
        $read = array_column($open, 0);
        $write = array_column(array_filter($open, fn($entry, $index) => $entry[1] < strlen($requests[$index]),
                                           ARRAY_FILTER_USE_BOTH), 0);
        $except = null;
        if ($tick)
            $tick();
        if (!@stream_select($read, $write, $except, 0, 100000))
            continue;
        foreach ($open as $index => [$socket, $sent])
        {
            // In pieces: a copy of the whole rest for every write would cost more than the upload.
            if (in_array($socket, $write, true))
                $open[$index][1] += (int)@fwrite($socket, substr($requests[$index], $sent, 1 << 18));
            if (in_array($socket, $read, true))
            {
                $answers[$index] .= (string)fread($socket, 65536);
                if (feof($socket))
                {
                    fclose($socket);
                    unset($open[$index]);
                }
            }
        }
    }
    foreach ($open as [$socket])
        fclose($socket);
    return $answers;
}
