  // A stored login is typed only into a page of its own site, as the document itself says: the
  // scheme and port of the sign-in's address, and its host or a listed domain (a subdomain by
  // whole labels; an IP address only itself).
  const bvIsIp = (h) => h.startsWith('[') || /^[0-9]+$/.test(h.slice(h.lastIndexOf('.') + 1));
  const bvHere = location.hostname.toLowerCase();
  const bvPortHere = location.port !== '' ? Number(location.port)
      : ({ 'http:': 80, 'https:': 443 })[location.protocol];
  const bvListed = (d) => d !== '' && (bvHere === d ||
      (!bvIsIp(bvHere) && !bvIsIp(d) && bvHere.endsWith('.' + d)));
  if (bvHost === '' || location.protocol !== bvScheme || bvPortHere !== bvPort ||
      !(bvHere === bvHost || bvDomains.some(bvListed))) {
    return 'elsewhere';
  }
