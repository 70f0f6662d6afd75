<?php
// Maintainers' logins: a session per browser, a token in every form against requests that
// other sites make in the maintainer's name, and failed logins slowed down per address.
require_once __DIR__ . '/Db.php';
require_once __DIR__ . '/Html.php';

const SESSION_IDLE_SECONDS = 8 * 3600;
const LOGIN_FAILURE_WINDOW = 900;    // seconds a failed login counts against its address
const LOGIN_FREE_FAILURES = 4;       // failures before the first wait
const LOGIN_FIRST_WAIT = 15;         // seconds; doubles with each further failure
const LOGIN_LONGEST_WAIT = 900;
// Verified against when the name is unknown, so that the answer takes as long as for a
// known name and does not tell which names exist.
const UNKNOWN_MAINTAINER_HASH = '$2y$10$JklQdqBk73uxfqtIC8r68ucPjersV8KSLRJDhcD77lrJvkySmvuxy';

function served_over_tls(): bool
{
    return !empty($_SERVER['HTTPS']) && strtolower($_SERVER['HTTPS']) !== 'off';
}

function session_begin(): void
{
    if (session_status() === PHP_SESSION_ACTIVE)
        return;
    ini_set('session.use_strict_mode', '1');
    ini_set('session.use_only_cookies', '1');
    ini_set('session.use_trans_sid', '0');
    session_name('brennlow_session');
    session_set_cookie_params(['lifetime' => 0, 'path' => '/', 'secure' => served_over_tls(),
                               'httponly' => true, 'samesite' => 'Lax']);
    session_start();
    if (isset($_SESSION['seen']) && time() - $_SESSION['seen'] > SESSION_IDLE_SECONDS)
    {
        $_SESSION = [];
        session_regenerate_id(true);
    }
    $_SESSION['seen'] = time();
}

function current_maintainer(): ?string
{
    session_begin();
    return $_SESSION['maintainer'] ?? null;
}

// A page's own address, to come back to after the login.
function return_address(): string
{
    $path = basename(parse_url($_SERVER['REQUEST_URI'] ?? '', PHP_URL_PATH) ?: 'index.php');
    $query = $_SERVER['QUERY_STRING'] ?? '';
    return $query === '' ? $path : "$path?$query";
}

// Only a page of this application: never another host or a path outside it.
function safe_return_address(string $address): string
{
    return preg_match('/^[a-z]+\.php(\?[^\s\\\\]*)?$/', $address) ? $address : 'index.php';
}

// Every page and download starts here: without a login, nothing but a way to the login page.
function require_login(): string
{
    $maintainer = current_maintainer();
    if ($maintainer === null)
    {
        send_page_headers();
        header('Location: login.php?next=' . rawurlencode(return_address()), true, 303);
        exit;
    }
    return $maintainer;
}

function csrf_token(): string
{
    session_begin();
    return $_SESSION['csrf'] ??= bin2hex(random_bytes(32));
}

function csrf_field(): string
{
    return '<input type="hidden" name="csrf" value="' . h(csrf_token()) . '">';
}

function require_post_with_token(): void
{
    if (($_SERVER['REQUEST_METHOD'] ?? '') !== 'POST')
        refuse_page(405, 'This address takes a form only');
    session_begin();
    $sent = $_POST['csrf'] ?? null;
    if (!is_string($sent) || !isset($_SESSION['csrf']) || !hash_equals($_SESSION['csrf'], $sent))
        refuse_page(403, 'The form has expired: reload the page and try again');
}

// Seconds the address must still wait before its next attempt counts.
function login_wait(string $remote): int
{
    $query = db()->prepare('SELECT COUNT(*) AS failures, MAX(at) AS last FROM login_failures ' .
                           'WHERE remote = ? AND at > ?');
    $query->execute([$remote, time() - LOGIN_FAILURE_WINDOW]);
    $row = $query->fetch();
    $beyond = (int)$row['failures'] - LOGIN_FREE_FAILURES;
    if ($beyond <= 0)
        return 0;
    $wait = min(LOGIN_LONGEST_WAIT, LOGIN_FIRST_WAIT * 2 ** min($beyond - 1, 16));
    return max(0, (int)$row['last'] + $wait - time());
}

function record_login_failure(string $name, string $remote): void
{
    db()->prepare('INSERT INTO login_failures (name, remote, at) VALUES (?, ?, ?)')
        ->execute([shortened($name, 100), $remote, time()]);
    db()->prepare('DELETE FROM login_failures WHERE at < ?')->execute([time() - 86400]);
}

// Logs a maintainer in; the answer is '' on success, else what to tell the person.
function log_in(string $name, string $password, string $remote): string
{
    $wait = login_wait($remote);
    if ($wait > 0)
        return "Too many failed logins: try again in $wait seconds";
    $row = false;
    if (preg_match('//u', $name) && strlen($name) <= 200)
    {
        $query = db()->prepare('SELECT id, name, password_hash FROM maintainers WHERE name = ?');
        $query->execute([$name]);
        $row = $query->fetch();
    }
    $verified = password_verify($password, $row ? $row['password_hash'] : UNKNOWN_MAINTAINER_HASH);
    if (!$row || !$verified)
    {
        record_login_failure($name, $remote);
        return 'Wrong name or password';
    }
    if (password_needs_rehash($row['password_hash'], PASSWORD_DEFAULT))
        db()->prepare('UPDATE maintainers SET password_hash = ? WHERE id = ?')
            ->execute([password_hash($password, PASSWORD_DEFAULT), $row['id']]);
    db()->prepare('DELETE FROM login_failures WHERE remote = ?')->execute([$remote]);
    session_begin();
    session_regenerate_id(true);
    $_SESSION = ['maintainer' => $row['name'], 'csrf' => bin2hex(random_bytes(32)), 'seen' => time()];
    return '';
}

function log_out(): void
{
    session_begin();
    $_SESSION = [];
    session_regenerate_id(true);
}
