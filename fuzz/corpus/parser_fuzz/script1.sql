select * from t; -- all
update t set a=1;
