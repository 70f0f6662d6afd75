<?php
// Uploads to the reference receiver, served by PHP's own server on a free loopback port
// with the size limits that the README's section states, and checks each answer and what
// was stored. Argument: the source tree. Prints "N passed, N failed".

$source = $argv[1];
$scratch = sys_get_temp_dir() . '/brennlow-receiver-' . getmypid();
$root = "$scratch/brennlow-uploads"; // the default upload folder of the server below
$passed = 0;
$failed = 0;

function check($ok, $what)
{
    global $passed, $failed;
    $ok ? $passed++ : $failed++;
    if (!$ok)
        echo "FAILED: $what\n";
}

function remove_tree($path)
{
    if (is_link($path) || is_file($path))
        return unlink($path);
    foreach (is_dir($path) ? array_diff(scandir($path), ['.', '..']) : [] as $entry)
        remove_tree("$path/$entry");
    is_dir($path) && rmdir($path);
}

// The -d options of the command in the README's section on size limits.
function readme_limits($source)
{
    $readme = file_get_contents("$source/README.md");
    $section = substr($readme, strpos($readme, '### Size limits'));
    preg_match('/^php (.*) -S /m', $section, $command);
    preg_match_all('/-d (\w+)=(\w+)/', $command[1] ?? '', $options, PREG_SET_ORDER);
    return array_column($options, 2, 1);
}

function bytes($size)
{
    return (int)$size * 1024 ** strpos('BKMG', strtoupper(substr($size, -1)) ?: 'B');
}

// Posts a form of fields (name => value) and files (name => [file name, content]);
// returns [status, answer].
function upload($port, $fields, $files)
{
    $boundary = 'brennlow-test-boundary';
    $body = '';
    foreach ($fields as $name => $value)
        $body .= "--$boundary\r\nContent-Disposition: form-data; name=\"$name\"\r\n\r\n$value\r\n";
    foreach ($files as $name => [$file, $content])
        $body .= "--$boundary\r\nContent-Disposition: form-data; name=\"$name\"; " .
                 "filename=\"$file\"\r\nContent-Type: application/octet-stream\r\n\r\n$content\r\n";
    $body .= "--$boundary--\r\n";
    $socket = stream_socket_client("tcp://127.0.0.1:$port", $code, $message, 10);
    stream_set_timeout($socket, 60);
    fwrite($socket, "POST /tamsel/report.php HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" .
                    "Content-Type: multipart/form-data; boundary=$boundary\r\n" .
                    'Content-Length: ' . strlen($body) . "\r\n\r\n" . $body);
    $answer = stream_get_contents($socket);
    fclose($socket);
    preg_match('#^HTTP/\S+ (\d+)#', $answer, $status);
    return [(int)($status[1] ?? 0), substr($answer, strpos($answer, "\r\n\r\n") + 4)];
}

function stored($root)
{
    $folders = is_dir($root) ? array_values(array_diff(scandir($root), ['.', '..'])) : [];
    if (count($folders) !== 1)
        return $folders;
    $names = array_values(array_diff(scandir("$root/$folders[0]"), ['.', '..']));
    sort($names);
    return $names;
}

$limits = readme_limits($source);
check(isset($limits['upload_max_filesize'], $limits['post_max_size']) &&
      bytes($limits['post_max_size']) > 2 * bytes($limits['upload_max_filesize']),
      'the README states both limits, the form room for two files of the largest size');

mkdir($scratch, 0700);
$socket = stream_socket_server('tcp://127.0.0.1:0');
$port = (int)substr(strrchr(stream_socket_get_name($socket, false), ':'), 1);
fclose($socket);
$command = ['php'];
foreach ($limits as $name => $value)
    array_push($command, '-d', "$name=$value");
array_push($command, '-S', "127.0.0.1:$port", '-t', "$source/receiver/public");
$environment = getenv();
unset($environment['BRENNLOW_UPLOAD_DIR']);
$environment['TMPDIR'] = $scratch;
$server = proc_open($command, [1 => ['file', '/dev/null', 'w'], 2 => ['file', '/dev/null', 'w']],
                    $pipes, null, $environment);
for ($tries = 0; $tries < 100 && !@fsockopen('127.0.0.1', $port); $tries++)
    usleep(100000);

$form = [['a' => 'r'],
         ['d' => ['app_Debug.dmp', "MDMP\0"], 't' => ['app_Debug.txt', 'text'],
          'x' => ['evil.php', '<?php'], 'y' => ['page.php.txt', '<?php'],
          'z' => ['.htaccess', 'SetHandler'], 'n' => ['', '']]];
$storedNames = ['a.field', 'd-app_Debug.dmp', 't-app_Debug.txt',
                'x-evil_php.upload', 'y-page_php.txt', 'z-_htaccess.upload'];
$elsewhere = "$scratch/elsewhere";
$cases = [
    // what the case does to the default folder first, the form, the status, what is stored
    ['a fresh default folder', function () {}, $form, 200, $storedNames],
    ['a default folder open to all', function () use ($root) { mkdir($root); chmod($root, 0777); },
     $form, 200, $storedNames],
    ['a link in place of the default folder', function () use ($root, $elsewhere) {
         mkdir($elsewhere);
         symlink($elsewhere, $root);
     }, $form, 500, []],
    ['a file over the size limit',
     function () use ($root) { mkdir($root, 0700); },
     [['a' => 'r'], ['d' => ['big.dmp', str_repeat('x', bytes($limits['upload_max_filesize']) + 1)]]],
     413, null],
];
if (posix_geteuid() === 0)
    $cases[] = ['a default folder of another user', function () use ($root) {
        mkdir($root, 0700);
        chown($root, 65534);
    }, $form, 500, []];

foreach ($cases as [$name, $prepare, [$fields, $files], $status, $names])
{
    remove_tree($root);
    remove_tree($elsewhere);
    $prepare();
    [$got, $answer] = upload($port, $fields, $files);
    check($got === $status && ($status === 200) === (strpos($answer, 'Stored ') === 0),
          "$name: status $got, answer " . trim($answer));
    if ($names !== null)
        check(stored(is_link($root) ? $elsewhere : $root) === $names,
              "$name: stored " . implode(' ', stored(is_link($root) ? $elsewhere : $root)));
    if ($status === 200)
        check((fileperms($root) & 0777) === 0700,
              sprintf('%s: folder mode %o', $name, fileperms($root) & 0777));
}

proc_terminate($server);
proc_close($server);
remove_tree($scratch);
echo "$passed passed, $failed failed\n";
exit($failed ? 1 : 0);
