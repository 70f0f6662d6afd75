<?php
// Ends the maintainer's session; a form with the session's token, so that no other site
// can log a maintainer out.
require_once __DIR__ . '/../src/Auth.php';

require_post_with_token();
log_out();
header('Location: login.php', true, 303);
