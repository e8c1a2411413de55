;
  // A stored login is typed only into a page of its own site, as the document itself says.
  const bvHost = location.hostname.toLowerCase();
  if (location.origin !== bvOrigin &&
      !bvDomains.some((d) => d !== '' && (bvHost === d || bvHost.endsWith('.' + d)))) {
    return 'elsewhere';
  }
