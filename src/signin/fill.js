;
  // Sets a field the way typing would, so page frameworks that wrap an input's value notice.
  const setValue = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, 'value').set;
  const fill = (el, value) => {
    setValue.call(el, value);
    el.dispatchEvent(new Event('input', { bubbles: true }));
    el.dispatchEvent(new Event('change', { bubbles: true }));
  };
  const { password, username } = bvFields();
  if (!password && !username) return 'none';
  if (username && u !== '') fill(username, u);
  if (password) fill(password, p);
  const form = (password || username).form;
  let submit = form ? form.querySelector('button[type=submit],input[type=submit],button:not([type])') : null;
  if (!submit) {
    submit = Array.from(document.querySelectorAll('button,[role=button],input[type=submit]')).find((el) =>
      bvVisible(el) && /sign ?in|log ?in|next|continue|submit/i.test((el.innerText || el.value || '').trim()));
  }
  if (submit) {
    submit.click();
  } else if (form) {
    if (form.requestSubmit) form.requestSubmit(); else form.submit();
  }
  return 'submitted';
