  // Finds the visible login fields of the document.
  function bvVisible(el) {
    return !!el && !el.disabled && el.getClientRects().length > 0 &&
        getComputedStyle(el).visibility !== 'hidden';
  }
  function bvFields() {
    const all = Array.from(document.querySelectorAll('input')).filter(bvVisible);
    const password = all.find((el) => el.type === 'password');
    const named = (el) => /user|email|login|session_key|account|identifier|phone/i.test(
        [el.name, el.id, el.autocomplete].join(' '));
    let username = all.find((el) => /^(email|text|tel)$/.test(el.type) && named(el));
    if (!username) username = all.find((el) => el.type === 'email');
    return { password, username };
  }
