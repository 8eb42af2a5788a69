/*alias>база*/
/*sqlstart>1*/
insert into t values ('абв')
/*sqlstop*/
