<?php
// One crash group: when it happens, on which versions and systems, its latest stack and
// its reports.
require_once __DIR__ . '/../src/Auth.php';
require_once __DIR__ . '/../src/Queries.php';
require_once __DIR__ . '/../src/Chart.php';

const REPORTS_PER_PAGE = 100;

require_login();
$id = (int)($_GET['id'] ?? 0);
$group = crash_group($id);
if ($group === null)
    refuse_page(404, 'No such group');
$summary = group_summaries([], $id)[0] ?? ['reports' => 0, 'machines' => 0, 'first_seen' => '', 'last_seen' => ''];
$total = (int)$summary['reports'];
$page = min(max(1, (int)($_GET['page'] ?? 1)), 1000000);
$reports = group_reports($id, REPORTS_PER_PAGE, ($page - 1) * REPORTS_PER_PAGE);
$latest = $total ? crash_report((int)group_reports($id, 1, 0)[0]['id']) : null;
$versions = group_breakdown($id, 'version');
usort($versions, fn($a, $b) => version_compare($b['value'], $a['value']));

function breakdown_table(string $heading, array $rows): string
{
    $html = '<table class="breakdown"><thead><tr><th>' . h($heading) .
            '</th><th class="num">Reports</th></tr></thead><tbody>';
    foreach ($rows as $row)
        $html .= '<tr><td>' . h($row['value'] === '' ? '(none)' : $row['value']) .
                 '</td><td class="num">' . (int)$row['reports'] . '</td></tr>';
    return $html . '</tbody></table>';
}

page_start("Group $id", [["Group $id", null]]);
echo '<p class="signature">', h($group['signature']), '</p>',
     '<dl class="facts inline"><dt>Exception</dt><dd>', h($group['exception']), '</dd>',
     '<dt>Reports</dt><dd>', $total, '</dd><dt>Machines</dt><dd>', (int)$summary['machines'], '</dd>',
     '<dt>First seen</dt><dd>', h($summary['first_seen']), '</dd><dt>Last seen</dt><dd>', h($summary['last_seen']),
     '</dd></dl>';
$days = chart_days();
echo '<section class="panels"><div class="panel wide"><h2>Reports per day, last ', CHART_DAYS, ' days</h2>',
     day_chart(daily_counts([$id], [])[$id] ?? [], $days, 520, 110, true), '</div>',
     '<div class="panel">', breakdown_table('Version', $versions), '</div>',
     '<div class="panel">', breakdown_table('System', group_breakdown($id, 'system')), '</div></section>';

if ($latest !== null)
    echo '<h2>Stack of the latest report (<a href="crash.php?id=', (int)$latest['id'], '">#',
         (int)$latest['id'], '</a>, ', $latest['symbolized'] ? 'named from the symbol store' : 'as sent', ')</h2>',
         '<pre class="stack">', h($latest['stack'] === '' ? '(no stack)' : $latest['stack']), '</pre>';

echo '<h2>Reports</h2><table class="reports"><thead><tr><th class="num">#</th><th>Received (UTC)</th>',
     '<th>Product</th><th>Version</th><th>System</th><th>Machine</th><th>Code</th><th>Module</th>',
     '<th>Description</th></tr></thead><tbody>';
foreach ($reports as $report)
    echo '<tr><td class="num"><a href="crash.php?id=', (int)$report['id'], '">', (int)$report['id'], '</a></td>',
         '<td class="time">', h($report['received_at']), '</td><td>', h($report['product']), '</td>',
         '<td>', h($report['version']), '</td><td>', h($report['system']), '</td>',
         '<td class="mono">', h($report['machine_id']), '</td><td class="mono">', h($report['exception_code']), '</td>',
         '<td>', h($report['fault_module']), '</td>',
         '<td class="desc">', h(shortened(db_bytes($report['description']), 80)), '</td></tr>';
echo '</tbody></table>';

$pages = (int)ceil($total / REPORTS_PER_PAGE);
if ($pages > 1)
    echo '<p class="pages">', $page > 1 ? "<a href=\"group.php?id=$id&amp;page=" . ($page - 1) . '">‹ Newer</a> ' : '',
         'Page ', $page, ' of ', $pages,
         $page < $pages ? " <a href=\"group.php?id=$id&amp;page=" . ($page + 1) . '">Older ›</a>' : '', '</p>';
page_end();
