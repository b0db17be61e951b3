-- 每个重复的科目编码只保留最早建立的一条
delete from Account
where iID in (select a.iID from Account a join Account b on a.cCode = b.cCode and a.iID > b.iID)
GO
