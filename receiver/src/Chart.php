<?php
// Reports per day as a bar chart drawn in inline SVG: no script, no image request, and the
// page's style sheet colours it. Each bar names its day and count on hover.
require_once __DIR__ . '/Html.php';

// $counts: day => reports; $days: the days of the chart, oldest first. With $labelled the
// chart names its highest count and its first and last day.
function day_chart(array $counts, array $days, int $width, int $height, bool $labelled = false): string
{
    $top = max(1, max(array_map(fn($day) => $counts[$day] ?? 0, $days)));
    $total = array_sum(array_map(fn($day) => $counts[$day] ?? 0, $days));
    $left = $labelled ? 28 : 0;
    $bottom = $labelled ? 14 : 0;
    $plot = $height - $bottom;
    $step = ($width - $left) / count($days);
    $bar = max(1.0, $step - ($step > 3 ? 1 : 0));
    $svg = sprintf('<svg class="chart" width="%d" height="%d" viewBox="0 0 %d %d" role="img" ' .
                   'aria-label="%s"><title>%s</title>', $width, $height, $width, $height,
                   h("$total reports in the last " . count($days) . ' days'),
                   h("$total reports in the last " . count($days) . ' days'));
    $svg .= sprintf('<rect class="slot" x="%d" y="0" width="%d" height="%d"/>', $left, $width - $left, $plot) .
            sprintf('<rect class="base" x="%d" y="%d" width="%d" height="1"/>', $left, $plot - 1, $width - $left);
    foreach ($days as $index => $day)
    {
        $count = $counts[$day] ?? 0;
        if ($count === 0)
            continue;
        $tall = max(2.0, round(($plot - 2) * $count / $top, 1));
        $svg .= sprintf('<rect class="bar" x="%.1f" y="%.1f" width="%.1f" height="%.1f"><title>%s</title></rect>',
                        $left + $index * $step, $plot - $tall, $bar, $tall,
                        h("$day: $count " . ($count === 1 ? 'report' : 'reports')));
    }
    if ($labelled)
        $svg .= sprintf('<text x="%d" y="9" text-anchor="end">%d</text>', $left - 4, $top) .
                sprintf('<text x="%d" y="%d" text-anchor="end">0</text>', $left - 4, $plot) .
                sprintf('<text x="%d" y="%d">%s</text>', $left, $height - 2, h($days[0])) .
                sprintf('<text x="%d" y="%d" text-anchor="end">%s</text>', $width, $height - 2, h(end($days)));
    return $svg . '</svg>';
}
