<?php
// Uploads to the receiver under the README's size limits and checks each answer, the files
// stored and the database rows. Argument: the source tree.

$source = $argv[1];
require __DIR__ . '/Support.php';
require "$source/receiver/src/Symbolizer.php";
$scratch = sys_get_temp_dir() . '/brennlow-receiver-' . getmypid();
$root = "$scratch/brennlow-uploads"; // the default upload folder of the server below
mkdir($scratch, 0700);
// The cases below remove the upload folder: the database stays beside it.
if (getenv('BRENNLOW_DB_DSN') === false)
    putenv("BRENNLOW_DB_DSN=sqlite:$scratch/receiver.sqlite");
putenv('BRENNLOW_UPLOAD_DIR');

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

function stored($folder)
{
    $names = is_dir($folder) ? array_values(array_diff(scandir($folder), ['.', '..'])) : [];
    sort($names);
    return $names;
}

$limits = readme_limits($source);
check(isset($limits['upload_max_filesize'], $limits['post_max_size']) &&
      bytes($limits['post_max_size']) > 2 * bytes($limits['upload_max_filesize']),
      'the README states both limits, the form room for two files of the largest size');

$report = sample_report(['app:app@0x15B5(0x0,0x0,0x0,0x0)', 'kernel32:kernel32@0x293E0(0x0,0x0,0x0,0x0)',
                        "Compute(0x0,0x0,0x0,0x0) - Line 7 in Z:\\src\\M\xFCller.cpp"]);
$signature = 'Access Violation | app@0x15B5 | Compute';
$fields = ['a' => 'r', 'p' => "Brennlow\x99\x81", 'v' => '1.2', 'g' => 'machine-1', 'e' => "a@b\xE9",
           'x' => "<script>\xFF"];
$form = [$fields,
         ['d' => ['app_Debug.dmp', "MDMP\0one"], 't' => ['app_Debug.txt', $report],
          'x' => ['evil.php', '<?php'], 'y' => ['page.php.txt', '<?php'],
          'z' => ['.htaccess', 'SetHandler'], 'n' => ['', '']]];
$storedNames = ['a.field', 'd-app_Debug.dmp', 'e.field', 'g.field', 'p.field', 't-app_Debug.txt',
                'v.field', 'x-evil_php.upload', 'x.field', 'y-page_php.txt', 'z-_htaccess.upload'];
$withDump = fn($dump, $text = 'no report of ours') =>
    [['a' => 'r'], ['d' => ['app_Debug.dmp', $dump], 't' => ['app_Debug.txt', $text]]];
$elsewhere = "$scratch/elsewhere";
$keep = function () {};
$fresh = function () use ($root) { mkdir($root, 0700); };
$cases = [
    // the case, what it does to the default folder first, the form, the status, the names
    // stored and the upload's group (null: no new row)
    ['a fresh default folder', $keep, $form, 200, $storedNames, $signature],
    ['a default folder open to all', function () use ($root) { mkdir($root); chmod($root, 0777); },
     $withDump('two'), 200, ['a.field', 'd-app_Debug.dmp', 't-app_Debug.txt'], 'unparsed'],
    ['the same minidump again', $keep, $withDump('two', $report), 200, null, 'unparsed'],
    ['a link in place of the default folder', function () use ($root, $elsewhere) {
         mkdir($elsewhere);
         symlink($elsewhere, $root);
     }, $withDump('three'), 500, [], null],
    ['a file over the size limit', $fresh,
     [['a' => 'r'], ['d' => ['big.dmp', str_repeat('x', bytes($limits['upload_max_filesize']) + 1)]]],
     413, [], null],
    ['a description over its limit', $fresh, [['x' => str_repeat('x', 65537)], []], 413, [], null],
    ['a text report over its limit', $fresh,
     [[], ['t' => ['app_Debug.txt', str_repeat('x', (16 << 20) + 1)]]], 413, [], null],
];
if (posix_geteuid() === 0)
    $cases[] = ['a default folder of another user', function () use ($root) {
        mkdir($root, 0700);
        chown($root, 65534);
    }, $withDump('four'), 500, [], null];

[$server, $port] = start_receiver($source, $limits, ['BRENNLOW_UPLOAD_DIR' => null, 'TMPDIR' => $scratch]);
$previous = null;
foreach ($cases as [$name, $prepare, [$fields, $files], $status, $names, $group])
{
    if ($prepare !== $keep)
    {
        remove_tree($root);
        remove_tree($elsewhere);
    }
    $prepare();
    $before = report_count();
    [$got, $answer] = upload($port, $fields, $files);
    $folder = trim(substr($answer, strlen('Stored ')));
    check($got === $status && ($status === 200) === (strpos($answer, 'Stored ') === 0),
          "$name: status $got, answer " . trim($answer));
    $where = is_link($root) ? $elsewhere : $root;
    $uploads = array_values(array_filter(stored($where), fn($entry) => is_dir("$where/$entry")));
    if ($names !== null)
        check(stored($uploads ? "$where/$uploads[0]" : '') === $names && count($uploads) <= 1,
              "$name: stored " . implode(' ', $uploads) . ': ' . implode(' ', stored("$where/$folder")));
    $row = $status === 200 ? stored_rows('SELECT r.*, g.signature FROM reports r JOIN crash_groups g ' .
                                  'ON g.id = r.group_id WHERE r.folder = ?', [$folder]) : [];
    check(report_count() - $before === ($group !== null && $names !== null ? 1 : 0) &&
          ($group === null || ($row[0]['signature'] ?? '') === $group && !broken_files($where, $folder)),
          "$name: rows " . json_encode($row, JSON_INVALID_UTF8_SUBSTITUTE));
    if ($status === 200)
        check((fileperms($root) & 0777) === 0700,
              sprintf('%s: folder mode %o', $name, fileperms($root) & 0777));
    if ($name === 'the same minidump again')
        check($folder === $previous, "$name: answered $folder, not $previous");
    $previous = $folder;
}

// The first upload's row: its texts, the bytes of e-mail and description as they arrived.
$first = stored_rows('SELECT * FROM reports ORDER BY id')[0];
$modules = stored_rows('SELECT name, time_stamp, size FROM report_modules WHERE report_id = ? ORDER BY name',
                [$first['id']]);
require_once "$source/receiver/src/Db.php";
check([$first['product'], $first['exception_code'], $first['fault_module'], $first['system'],
       db_bytes($first['email']), db_bytes($first['description']), $modules[0]['time_stamp'] ?? '']
      === ["Brennlow\u{2122}\u{81}", '0xC0000005', 'app.exe', 'Windows 7', "a@b\xE9", "<script>\xFF", '0x6B16A6F0'],
      'the first row: ' . json_encode($first, JSON_INVALID_UTF8_SUBSTITUTE));
stop_receiver($server);

// Without PHP's POSIX functions the owner check is left out and the upload still stored.
remove_tree($root);
[$server, $port] = start_receiver($source, ['disable_functions' => 'posix_geteuid'],
                                  ['BRENNLOW_UPLOAD_DIR' => null, 'TMPDIR' => $scratch]);
[$got, $answer] = upload($port, ...$withDump('five'));
check($got === 200, "without the POSIX functions: $got $answer");
stop_receiver($server);

// The symbolizer's time limit: a process that overruns it is given up in time.
$started = microtime(true);
$sleeper = proc_open(['sleep', '30'], [0 => ['pipe', 'r'], 1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes);
[, , $finished] = exchange($pipes, '', microtime(true) + 1);
proc_terminate($sleeper, 9);
check(!$finished && microtime(true) - $started < 3, 'an overrunning symbolizer is given up');
check(symbolize_report(str_repeat('x', (1 << 20) + 1), $scratch)[0] === null,
      'a report over a megabyte is not symbolised');

remove_tree($scratch);
finish();
