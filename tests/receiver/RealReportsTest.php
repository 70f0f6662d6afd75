<?php
// The receiver's signatures of the fault program's crashes, as built, stripped, and stripped
// with another time stamp: with the symbol store every copy gets the table's signature.
// Arguments: wine-run, CrashProgram.exe, the source folder, the architecture's strip.
[, $wineRun, $program, $source, $strip] = $argv;
require __DIR__ . '/Support.php';

// Where the x64 report's walk loses frames, its own signature follows.
$signatures = [ // kind => [signature, the x64 build's where it differs]
    'write' => ['Access Violation | FaultWithNullWrite | CrashCaller | main'],
    'read' => ['Access Violation | FaultWithNullRead | CrashCaller | main'],
    'raise' => ['Exception | FaultWithUnknownCode | CrashCaller | main', 'Exception | CrashCaller | main'],
    'overflow' => ['Stack Overflow | Overflow | Overflow', 'Stack Overflow'],
    'divide' => ['Integer Divide by Zero | FaultWithDivide | CrashCaller | main'],
];
$x64 = strpos(file_get_contents($program, false, null, 0, 4096), "PE\0\0\x64\x86") !== false;

$work = sys_get_temp_dir() . '/brennlow-real-reports-' . getmypid();
$store = "$work/store";
$builds = ['built' => "$work/built", 'stripped' => "$work/stripped", 'stamped' => "$work/stamped"];
foreach ($builds as $folder)
    mkdir($folder, 0700, true);
copy($program, "$builds[built]/CrashProgram.exe");
exec(escapeshellarg($strip) . ' -o ' . escapeshellarg("$builds[stripped]/CrashProgram.exe") . ' ' .
     escapeshellarg($program));
// The same code linked at another time: only the header's time stamp differs.
$image = file_get_contents("$builds[stripped]/CrashProgram.exe");
$stamp = unpack('V', $image, unpack('V', $image, 0x3C)[1] + 8)[1];
file_put_contents("$builds[stamped]/CrashProgram.exe",
                  substr_replace($image, pack('V', $stamp + 86400), unpack('V', $image, 0x3C)[1] + 8, 4));
foreach ($builds as $folder)
    exec('sh ' . escapeshellarg("$source/tools/store-symbols.sh") . ' ' .
         escapeshellarg("$folder/CrashProgram.exe") . ' ' . escapeshellarg($program) .
         ' --store ' . escapeshellarg($store) . ' >/dev/null');

// Every crash as built and stripped, one of the other build: a few at a time.
$runs = [];
foreach (array_keys($signatures) as $kind)
    foreach (['built', 'stripped', 'stamped'] as $build)
        if ($build !== 'stamped' || $kind === 'write')
            $runs["$build-$kind"] = [$kind, $build];
foreach (array_chunk(array_keys($runs), 4) as $batch)
{
    $processes = [];
    foreach ($batch as $name)
    {
        mkdir("$work/$name");
        copy("{$builds[$runs[$name][1]]}/CrashProgram.exe", "$work/$name/CrashProgram.exe");
        $processes[] = proc_open('cd ' . escapeshellarg("$work/$name") . ' && timeout 120 ' .
                                 escapeshellarg($wineRun) . " ./CrashProgram.exe {$runs[$name][0]}",
                                 [1 => ['file', '/dev/null', 'w'], 2 => ['file', '/dev/null', 'w']], $pipes);
    }
    array_map('proc_close', $processes);
}

// Each report uploaded to the receiver, which symbolises it with the store.
putenv("BRENNLOW_UPLOAD_DIR=$work/uploads");
[$server, $port] = start_receiver($source, [], ['BRENNLOW_SYMBOL_STORE' => $store]);
$seen = [];
foreach ($runs as $name => [$kind, $build])
{
    $expected = $signatures[$kind][(int)$x64] ?? $signatures[$kind][0];
    $report = (string)@file_get_contents("$work/$name/CrashProgram_Debug.txt");
    $folder = trim(substr(upload($port, [], ['t' => ['CrashProgram_Debug.txt', $report]])[1], 7));
    $row = stored_rows('SELECT g.signature, r.symbolized FROM reports r JOIN crash_groups g ' .
                       'ON g.id = r.group_id WHERE r.folder = ?', [$folder])[0] ?? [];
    check(($row['signature'] ?? '') === $expected && $row['symbolized'] == 1 &&
          is_file("$work/uploads/$folder/report-symbolized.txt"),
          "$kind, $build: " . json_encode($row) . @file_get_contents("$work/uploads/$folder/report-symbolized.log"));
    $seen[$row['signature'] ?? ''] = true;
}
stop_receiver($server);
check(count($seen) === count($signatures), 'every crash has a group of its own');
remove_tree($work);
finish();
