// placeholder until the DevTools client lands
