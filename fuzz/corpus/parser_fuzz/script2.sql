insert into t values ('a;b', "c\"d", 0x1F, 12.5e-3, 10d, `x;y`) /* c */ # x
[a b] [$FIELDS]
