  // Reports what the user typed at every attempt to submit a login, and where. Runs in the
  // shell's own script world of the main frame: the page cannot post on its channel.
  function bvGrab() {
    const { password, username } = bvFields();
    if ((password && password.value !== '') || (username && username.value !== '')) {
      window.webkit.messageHandlers.brivokLogin.postMessage({
        username: username ? username.value : '',
        password: password ? password.value : '',
        url: location.href,
      });
    }
  }
  document.addEventListener('submit', () => bvGrab(), true);
  document.addEventListener('click', (event) => {
    const target = event.target;
    if (target && target.closest &&
        target.closest('button,[role=button],input[type=submit]')) {
      bvGrab();
    }
  }, true);
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') bvGrab();
  }, true);
