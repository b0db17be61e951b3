-- 重复编码中后建立的客户改为“原编码-内码”，由用户确认后合并或停用
update Customer set cCode = rtrim(cCode) + '-' + cast(iID as varchar(10))
where iID in (select a.iID from Customer a join Customer b on a.cCode = b.cCode and a.iID > b.iID)
GO
