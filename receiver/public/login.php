<?php
// The maintainers' login. A failed attempt is recorded against the address it came from.
require_once __DIR__ . '/../src/Auth.php';

$next = safe_return_address((string)($_GET['next'] ?? $_POST['next'] ?? 'index.php'));
$message = '';
if (($_SERVER['REQUEST_METHOD'] ?? '') === 'POST')
{
    require_post_with_token();
    $message = log_in((string)($_POST['name'] ?? ''), (string)($_POST['password'] ?? ''),
                      (string)($_SERVER['REMOTE_ADDR'] ?? ''));
    if ($message === '')
    {
        header('Location: ' . $next, true, 303);
        exit;
    }
    http_response_code(str_starts_with($message, 'Too many') ? 429 : 401);
}
elseif (current_maintainer() !== null)
{
    header('Location: ' . $next, true, 303);
    exit;
}

page_start('Log in');
echo $message === '' ? '' : '<p class="error">' . h($message) . '</p>',
     '<form class="login" method="post" action="login.php">', csrf_field(),
     '<input type="hidden" name="next" value="', h($next), '">',
     '<label>Name <input name="name" autocomplete="username" required autofocus></label>',
     '<label>Password <input type="password" name="password" autocomplete="current-password" required></label>',
     '<button type="submit">Log in</button></form>';
page_end();
