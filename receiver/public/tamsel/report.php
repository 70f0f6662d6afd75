<?php
// Receives crash-report uploads at /tamsel/report.php.
//
// Each upload gets a folder of its own under the upload folder: every form field as
// "<field>.field" holding its value, every file as "<field>-<file name>". The answer is
// one short line of text: "Stored <folder>" only when every part was stored, else an
// error status. The upload folder is BRENNLOW_UPLOAD_DIR when that is set, else
// "brennlow-uploads" in the system's temporary folder: never one the web server serves.
//
// A minidump runs to a few megabytes: see the README's section on size limits, for example
//   php -d upload_max_filesize=64M -d post_max_size=136M -S 127.0.0.1:80 -t receiver/public

header('Content-Type: text/plain');

function fail($status, $text)
{
    http_response_code($status);
    echo $text, "\n";
    exit;
}

// Only letters, digits, dash and underscore: no dot that a web server could take for a
// script's extension, wherever in the name it stands.
function plain_name($name)
{
    $name = preg_replace('/[^A-Za-z0-9_-]/', '_', basename((string)$name));
    return $name === '' ? '_' : $name;
}

// A file keeps its extension only when it is one of the report's plain data; any other
// gets ".upload" behind it.
function file_name($name)
{
    $name = basename((string)$name);
    $dot = strrpos($name, '.');
    $extension = $dot === false ? '' : strtolower(substr($name, $dot + 1));
    if (!in_array($extension, ['dmp', 'txt'], true))
        return plain_name($name) . '.upload';
    return plain_name(substr($name, 0, $dot)) . '.' . $extension;
}

// The default folder lies in a temporary folder that every user can write to: it is made
// private to this server's user, and refused when someone else could have prepared it.
function private_root($root)
{
    if (!is_link($root) && !file_exists($root))
        @mkdir($root, 0700);
    clearstatcache();
    $info = @lstat($root);
    if ($info === false || is_link($root) || !is_dir($root) || $info['uid'] !== posix_geteuid())
        fail(500, 'Cannot store the upload');
    if (($info['mode'] & 0077) !== 0 && !chmod($root, 0700))
        fail(500, 'Cannot store the upload');
    return $root;
}

if ($_SERVER['REQUEST_METHOD'] !== 'POST')
    fail(405, 'POST only');
if (empty($_POST) && empty($_FILES))
    fail(400, 'Empty upload');

$root = getenv('BRENNLOW_UPLOAD_DIR');
if ($root === false || $root === '')
    $root = private_root(sys_get_temp_dir() . '/brennlow-uploads');
$folder = $root . '/' . gmdate('Ymd-His') . '-' . bin2hex(random_bytes(4));
if (!@mkdir($folder, 0700, true))
    fail(500, 'Cannot store the upload');

foreach ($_POST as $field => $value)
    if (is_string($value) &&
        file_put_contents($folder . '/' . plain_name($field) . '.field', $value) === false)
        fail(500, 'Cannot store the field ' . plain_name($field));
foreach ($_FILES as $field => $file)
{
    // A part without a file (a report that has only its text) is no failure.
    if (!is_array($file['error']) && $file['error'] === UPLOAD_ERR_NO_FILE)
        continue;
    if (is_array($file['error']) || $file['error'] !== UPLOAD_ERR_OK)
        fail(in_array($file['error'], [UPLOAD_ERR_INI_SIZE, UPLOAD_ERR_FORM_SIZE], true) ? 413 : 400,
             'The file ' . plain_name($field) . ' did not arrive');
    if (!move_uploaded_file($file['tmp_name'],
                            $folder . '/' . plain_name($field) . '-' . file_name($file['name'])))
        fail(500, 'Cannot store the file ' . plain_name($field));
}

// With a symbol store (BRENNLOW_SYMBOL_STORE), a copy of the text report names the
// functions of each build the store holds, as report-symbolized.txt. The upload stays as
// it arrived whatever the symbolizer does; its complaints go to report-symbolized.log.
$store = getenv('BRENNLOW_SYMBOL_STORE');
$reports = array_values(preg_grep('/^t-/', scandir($folder)));
if ($store !== false && $store !== '' && $reports)
{
    $command = ['python3', __DIR__ . '/../../../tools/symbolize.py', $folder . '/' . $reports[0],
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
