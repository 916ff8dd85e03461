
set autoddl on;