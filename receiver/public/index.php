<?php
// Groups: one row a crash signature, the most frequent first, with the filters a
// maintainer narrows the list with.
require_once __DIR__ . '/../src/Auth.php';
require_once __DIR__ . '/../src/Queries.php';
require_once __DIR__ . '/../src/Chart.php';

const GROUPS_PER_PAGE = 100;

require_login();
$filters = report_filters($_GET);
$page = min(max(1, (int)($_GET['page'] ?? 1)), 1000000);
$all = group_summaries($filters);
$shown = array_slice($all, ($page - 1) * GROUPS_PER_PAGE, GROUPS_PER_PAGE);
$ids = array_map('intval', array_column($shown, 'id'));
$versions = version_ranges($ids, $filters);
$days = chart_days();
$daily = daily_counts($ids, $filters);
$choices = filter_choices();

function filter_select(string $name, string $label, array $values, array $filters): string
{
    $html = '<label>' . h($label) . ' <select name="' . h($name) . '"><option value="">All</option>';
    foreach ($values as $value)
        $html .= '<option value="' . h($value) . '"' .
                 (($filters[$name] ?? null) === $value ? ' selected' : '') . '>' .
                 h($value) . '</option>';
    return $html . '</select></label>';
}

// The frames of a signature, one a line: its exception has a column of its own.
function shown_frames(array $group): string
{
    $frames = explode(' | ', $group['signature']);
    if (count($frames) > 1 && $frames[0] === $group['exception'])
        array_shift($frames);
    return implode('<br>', array_map('h', $frames));
}

function page_link(int $page, string $label): string
{
    $query = http_build_query(array_merge($_GET, ['page' => $page]));
    return '<a href="index.php?' . h($query) . '">' . h($label) . '</a>';
}

page_start('Crash groups');
echo '<form class="filters" method="get" action="index.php">',
     filter_select('product', 'Product', $choices['product'], $filters),
     filter_select('version', 'Version', $choices['version'], $filters),
     filter_select('system', 'System', $choices['system'], $filters),
     '<label>From <input type="date" name="from" value="', h($filters['from'] ?? ''), '"></label>',
     '<label>To <input type="date" name="to" value="', h($filters['to'] ?? ''), '"></label>',
     '<button type="submit">Apply</button> <a href="index.php">Clear</a></form>';

$reports = array_sum(array_column($all, 'reports'));
echo '<p class="summary">', count($all), ' ', count($all) === 1 ? 'group' : 'groups', ', ',
     $reports, ' ', $reports === 1 ? 'report' : 'reports', $filters ? ' matching the filters' : '', '</p>';
if (!$all)
{
    echo '<p class="empty">No reports.</p>';
    page_end();
    exit;
}

echo '<table class="groups"><thead><tr><th>Last ', CHART_DAYS, ' days</th><th>Signature</th>',
     '<th>Exception</th><th class="num">Reports</th><th class="num">Machines</th>',
     '<th>First version</th><th>Last version</th><th>First seen (UTC)</th><th>Last seen (UTC)</th></tr></thead><tbody>';
foreach ($shown as $group)
{
    [$first, $last] = $versions[$group['id']] ?? ['', ''];
    echo '<tr><td class="spark">', day_chart($daily[$group['id']] ?? [], $days, 92, 22), '</td>',
         '<td class="sig"><a href="group.php?id=', (int)$group['id'], '">', shown_frames($group), '</a></td>',
         '<td class="exc">', h($group['exception']), '</td>',
         '<td class="num">', (int)$group['reports'], '</td><td class="num">', (int)$group['machines'], '</td>',
         '<td>', h($first), '</td><td>', h($last), '</td>',
         '<td class="time">', h(substr($group['first_seen'], 0, 16)), '</td>',
         '<td class="time">', h(substr($group['last_seen'], 0, 16)), '</td></tr>';
}
echo '</tbody></table>';

$pages = (int)ceil(count($all) / GROUPS_PER_PAGE);
if ($pages > 1)
    echo '<p class="pages">', $page > 1 ? page_link($page - 1, '‹ Previous') . ' ' : '',
         'Page ', $page, ' of ', $pages, $page < $pages ? ' ' . page_link($page + 1, 'Next ›') : '', '</p>';
page_end();
