// placeholder until the survey lands
