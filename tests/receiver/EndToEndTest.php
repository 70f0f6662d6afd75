<?php
// Presses Send in the problem-report dialog of several crashes: each upload reaches the
// receiver of RunWithReceiver.sh with its description and both files, in its crash's group.
// Arguments: wine-run, crash_tests.exe, the source tree.
[, $wineRun, $tests, $source] = $argv;
require __DIR__ . '/Support.php';
require "$source/receiver/src/Db.php";

$crashes = [
    'write' => 'Access Violation | FaultWithNullWrite | CrashCaller | main',
    'divide' => 'Integer Divide by Zero | FaultWithDivide | CrashCaller | main',
    'read' => 'Access Violation | FaultWithNullRead | CrashCaller | main',
];
$expected = [];
foreach ($crashes as $kind => $signature)
{
    exec('timeout 180 ' . escapeshellarg($wineRun) . ' ' . escapeshellarg($tests) .
         " --press-send \"$kind 127.0.0.1\" \"Sent from $kind\" 2>&1", $output, $status);
    check($status === 0, "$kind: " . implode("\n", $output));
    $expected[] = [$signature, "Sent from $kind", 'd t'];
}
$stored = db()->query("SELECT g.signature, r.description, (SELECT COUNT(*) FROM report_files f " .
                      "WHERE f.report_id = r.id AND f.field IN ('d', 't')) AS files " .
                      'FROM reports r JOIN crash_groups g ON g.id = r.group_id ORDER BY r.id')->fetchAll();
$got = array_map(fn($row) => [$row['signature'], db_bytes($row['description']),
                              $row['files'] == 2 ? 'd t' : "$row[files] files"], $stored);
check($got === $expected, 'stored: ' . json_encode($got));
finish();
