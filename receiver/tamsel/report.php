<?php
// Receives crash-report uploads at /tamsel/report.php.
//
// Each upload gets a folder of its own under the upload folder: every form field as
// "<field>.field" holding its value, every file as "<field>-<file name>". The answer is
// one short line of text. The upload folder is BRENNLOW_UPLOAD_DIR when that is set, else
// "brennlow-uploads" in the system's temporary folder: never one the web server serves.
//
// A minidump runs to a few megabytes: allow uploads of that size, for example
//   php -d upload_max_filesize=64M -d post_max_size=64M -S 127.0.0.1:80 -t receiver

header('Content-Type: text/plain');

function fail($status, $text)
{
    http_response_code($status);
    echo $text, "\n";
    exit;
}

// Only letters, digits, dot, dash and underscore, never a leading dot.
function safe_name($name)
{
    $name = preg_replace('/[^A-Za-z0-9._-]/', '_', basename((string)$name));
    return ltrim($name, '.') === '' ? '_' : ltrim($name, '.');
}

if ($_SERVER['REQUEST_METHOD'] !== 'POST')
    fail(405, 'POST only');
if (empty($_POST) && empty($_FILES))
    fail(400, 'Empty upload');

$root = getenv('BRENNLOW_UPLOAD_DIR');
if ($root === false || $root === '')
    $root = sys_get_temp_dir() . '/brennlow-uploads';
$folder = $root . '/' . gmdate('Ymd-His') . '-' . bin2hex(random_bytes(4));
if (!@mkdir($folder, 0700, true))
    fail(500, 'Cannot store the upload');

foreach ($_POST as $field => $value)
    if (is_string($value))
        file_put_contents($folder . '/' . safe_name($field) . '.field', $value);
foreach ($_FILES as $field => $file)
{
    if (is_array($file['error']) || $file['error'] !== UPLOAD_ERR_OK)
        continue;
    move_uploaded_file($file['tmp_name'],
                       $folder . '/' . safe_name($field) . '-' . safe_name($file['name']));
}

// With a symbol store (BRENNLOW_SYMBOL_STORE), a copy of the text report names the
// functions of each build the store holds, as report-symbolized.txt. The upload stays as
// it arrived whatever the symbolizer does; its complaints go to report-symbolized.log.
$store = getenv('BRENNLOW_SYMBOL_STORE');
$reports = array_values(preg_grep('/^t-/', scandir($folder)));
if ($store !== false && $store !== '' && $reports)
{
    $command = ['python3', __DIR__ . '/../../tools/symbolize.py', $folder . '/' . $reports[0],
                '--store', $store, '--out', $folder . '/report-symbolized.txt'];
    $process = @proc_open($command, [0 => ['file', '/dev/null', 'r'],
                                     1 => ['file', '/dev/null', 'w'], 2 => ['pipe', 'w']], $pipes);
    if (is_resource($process))
    {
        $complaints = stream_get_contents($pipes[2]);
        fclose($pipes[2]);
        proc_close($process);
        if ($complaints !== '' && $complaints !== false)
            file_put_contents($folder . '/report-symbolized.log', $complaints);
    }
}
echo 'Stored ', basename($folder), "\n";
