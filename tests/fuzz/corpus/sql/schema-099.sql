

-- Surgery hours;